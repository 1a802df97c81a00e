// Writes through the process-wide logger from a folder of its own, so that the tests can look at
// the day's log file beside it without meeting lines of other programs.
//   log_probe write TEXT      WriteLog(TEXT)
//   log_probe force TEXT      ForceLog(true), then WriteLog(TEXT)
//   log_probe write2 TEXT N   WriteLog2(L"%s=%d", TEXT, N)
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <cstdlib>

#include "services/logger.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const wchar_t* mode = argv[1];
  if (std::wcscmp(mode, L"write") == 0) {
    WriteLog(argv[2]);
  } else if (std::wcscmp(mode, L"force") == 0) {
    CKvLog::Instance().ForceLog(true);
    WriteLog(argv[2]);
  } else if (std::wcscmp(mode, L"write2") == 0 && argc >= 4) {
    CKvLog::Instance().WriteLog2(L"%s=%d", argv[2], static_cast<int>(std::wcstol(argv[3], nullptr, 10)));
  } else {
    return 2;
  }
  std::printf("done\n");
  return 0;
}
