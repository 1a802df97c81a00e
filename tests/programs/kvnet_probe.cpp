// Runs one request of the process-wide HTTP client from the folder it lies in, so that tests can
// give it a proxy.dat (or leave zlib1.dll out) without touching the shared bin folder:
//   kvnet_probe get URL SIZE [--log]
//   kvnet_probe post URL DATA SIZE [--log]
//   kvnet_probe probe URL
// Prints "result N", "infolen N", "body HEX" (the whole buffer in hexadecimal) and "memory B A",
// the peak working set in bytes before and after the request.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "services/http_client.h"
#include "services/logger.h"

namespace {

std::string Narrow(const wchar_t* text) {
  std::string out;
  for (; *text; ++text) out += static_cast<char>(*text);
  return out;
}

SIZE_T PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PeakWorkingSetSize;
}

void PrintBuffer(int result, const std::vector<char>& buffer, SIZE_T peak_before) {
  std::printf("result %d\ninfolen %d\nbody ", result, CKvNet::Instance().GetInfoLen());
  for (char c : buffer) std::printf("%02x", static_cast<unsigned char>(c));
  std::printf("\nmemory %lu %lu\n", static_cast<unsigned long>(peak_before),
              static_cast<unsigned long>(PeakWorkingSet()));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  const std::wstring verb = argv[1];
  for (int i = 1; i < argc; ++i)
    if (std::wstring(argv[i]) == L"--log") CKvLog::Instance().ForceLog(true);
  if (verb == L"get" && argc >= 4) {
    std::vector<char> buffer(static_cast<size_t>(std::wcstol(argv[3], nullptr, 10)), '\0');
    CKvNet::Instance();  // the client and zlib in place: the request alone is measured
    const SIZE_T before = PeakWorkingSet();
    const int result = GetUrlInfo(argv[2], buffer.data(), static_cast<int>(buffer.size()));
    PrintBuffer(result, buffer, before);
  } else if (verb == L"post" && argc >= 5) {
    const std::string data = Narrow(argv[3]);
    std::vector<char> buffer(static_cast<size_t>(std::wcstol(argv[4], nullptr, 10)), '\0');
    CKvNet::Instance();
    const SIZE_T before = PeakWorkingSet();
    const int result = CKvNet::Instance().Post(argv[2], data.data(), static_cast<int>(data.size()),
                                               buffer.data(), static_cast<int>(buffer.size()));
    PrintBuffer(result, buffer, before);
  } else if (verb == L"probe") {
    std::printf("result %d\n", isConnected(argv[2]));
  } else {
    return 2;
  }
  return 0;
}
