// Shows one message box and exits with its result, for tests that drive it with real input.
//   msgbox_probe.exe <style> <countdown> <check 0|1> <title>
// Prints "result=<n>" when the box has closed.
#include <windows.h>

#include <cstdio>
#include <cwchar>

#include "app/app.h"
#include "ui/message_box.h"

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) return 100;
  GetKvApp()->SetAppName(argv[4]);
  int result = 0;
  {
    CKvMsgBox box;
    box.m_bShowCheck = std::wcstol(argv[3], nullptr, 10) != 0;
    box.m_bCheckInit = true;
    box.m_strCheckLabel = L"不再提示";
    result = box.ShowBox(nullptr, L"卸载已完成，部分文件需要重新启动后才能删除。", argv[4],
                         std::wcstol(argv[1], nullptr, 10), std::wcstol(argv[2], nullptr, 10),
                         300, 200, -1, -1);
  }
  std::printf("result=%d\n", result);
  std::fflush(stdout);
  return result;
}
