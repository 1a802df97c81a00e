// The other process of the single-instance tests.
//   instance_probe NAME window|plain REPORT QUIT_EVENT
// Calls CheckOneInstance(NAME) and appends "check <result>" to the REPORT file. In window mode it
// then shows a minimised top-level window titled NAME and, when a WM_COPYDATA arrives, appends
// "copydata <id> <text>" and "iconic <0|1>" and ends. Either mode ends when the named event
// QUIT_EVENT is set, or after 30 seconds.
//   instance_probe --sleep MS REPORT
// Sleeps MS milliseconds, then appends "slept" to REPORT (a program for DoRun to wait for).
#include <windows.h>

#include <cstdio>
#include <string>

#include "util/handles.h"
#include "util/system.h"

namespace {

std::wstring g_report;

std::string Utf8(const wchar_t* text) {
  char out[1024] = {};
  ::WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof(out) - 1, nullptr, nullptr);
  return out;
}

void Report(const std::string& line) {
  FILE* f = _wfopen(g_report.c_str(), L"ab");
  if (!f) return;
  std::fprintf(f, "%s\n", line.c_str());
  std::fclose(f);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_COPYDATA) {
    const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    const std::wstring text(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
    // The terminator travels with the text: it shows as the last unit.
    const bool terminated = !text.empty() && text.back() == L'\0';
    Report("copydata " + std::to_string(data->dwData) + " " + Utf8(text.c_str()) +
           (terminated ? " (terminated)" : " (unterminated)"));
    Report(std::string("iconic ") + (::IsIconic(window) ? "1" : "0"));
    ::PostQuitMessage(0);
    return TRUE;
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"--sleep") {
    ::Sleep(static_cast<DWORD>(_wtoi(argv[2])));
    g_report = argv[3];
    Report("slept");
    return 0;
  }
  if (argc < 5) return 2;
  const std::wstring name = argv[1];
  const bool with_window = std::wstring(argv[2]) == L"window";
  g_report = argv[3];
  kv::UniqueHandleKernel quit(::CreateEventW(nullptr, TRUE, FALSE, argv[4]));

  HWND window = nullptr;
  if (with_window) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KvInstanceProbe";
    ::RegisterClassW(&wc);
    window = ::CreateWindowExW(0, wc.lpszClassName, name.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100,
                               nullptr, nullptr, wc.hInstance, nullptr);
    ::ShowWindow(window, SW_SHOWMINIMIZED);
  }
  Report("check " + std::to_string(CheckOneInstance(name.c_str(), nullptr)));
  if (window) Report(std::string("window iconic ") + (::IsIconic(window) ? "1" : "0"));

  const DWORD start = ::GetTickCount();
  for (;;) {
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= 30000) break;
    HANDLE wait = quit.get();
    const DWORD r = ::MsgWaitForMultipleObjects(1, &wait, FALSE, 30000 - elapsed, QS_ALLINPUT);
    if (r != WAIT_OBJECT_0 + 1) break;
    MSG msg;
    bool done = false;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) done = true;
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
    if (done) break;
  }
  if (window) ::DestroyWindow(window);
  return 0;
}
