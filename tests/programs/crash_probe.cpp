// Starts as the program's entry does (application name, then the crash handler, before any
// window) and then faults on purpose.
//   crash_probe.exe        the main thread faults
//   crash_probe.exe two    the main thread faults, and a second thread 50 ms later; a watcher
//                          thread then writes <exe>.threads.txt: "alive=<0|1> cpu_ms=<n>", whether
//                          the second thread still exists 1.5 s after its fault and the CPU time
//                          it used over the 2 s that follow.
// Just before the first fault it prints "faulting main=<thread id> second=<thread id or 0>".
#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "app/app.h"
#include "app/app_texts.h"
#include "services/crash_dump.h"
#include "util/handles.h"

namespace {

HANDLE g_go = nullptr;
HANDLE g_second = nullptr;

void Fault() {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
}

DWORD WINAPI SecondFault(void*) {
  ::WaitForSingleObject(g_go, INFINITE);
  ::Sleep(50);
  Fault();
  return 0;
}

ULONGLONG ThreadCpuMs(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  ::GetThreadTimes(thread, &created, &exited, &kernel, &user);
  auto ms = [](FILETIME t) {
    return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 10000;
  };
  return ms(kernel) + ms(user);
}

DWORD WINAPI Watcher(void*) {
  ::WaitForSingleObject(g_go, INFINITE);
  ::Sleep(1550);
  DWORD code = 0;
  const bool alive = ::GetExitCodeThread(g_second, &code) && code == STILL_ACTIVE;
  const ULONGLONG before = ThreadCpuMs(g_second);
  ::Sleep(2000);
  const ULONGLONG used = ThreadCpuMs(g_second) - before;
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  const std::wstring report = std::wstring(exe) + L".threads.txt";
  kv::UniqueStdioFile f(_wfopen(report.c_str(), L"w"));
  if (f) std::fprintf(f.get(), "alive=%d cpu_ms=%llu\n", alive ? 1 : 0, used);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  CKvApp* app = GetKvApp();
  app->SetAppName(kv::app::kAppName);
  // Installed twice: the free function creates the handler, the entry's call must win.
  InstallDump(L"earlier", L"earlier_tag");
  GetKvDump()->Install(app->m_szAppName, kv::app::kDumpName);

  const bool two = argc > 1 && std::wcscmp(argv[1], L"two") == 0;
  if (two) {
    g_go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_second = ::CreateThread(nullptr, 0, SecondFault, nullptr, 0, nullptr);
    ::CloseHandle(::CreateThread(nullptr, 0, Watcher, nullptr, 0, nullptr));
  }
  std::printf("faulting main=%lu second=%lu\n", ::GetCurrentThreadId(),
              g_second ? ::GetThreadId(g_second) : 0ul);
  std::fflush(stdout);
  if (two) ::SetEvent(g_go);
  Fault();
  std::printf("survived\n");
  return 3;
}
