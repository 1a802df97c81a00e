// Runs the uninstall engine over the folder this program lies in, exactly as the uninstaller
// does, and prints every progress message the engine delivers to its window:
//   "sent N"   synchronous progress from the folder walk
//   "posted N" the engine's posted completion
// then "queued N" when N files or folders wait for the next restart, and "done". With --sync the
// engine runs on this thread instead of its worker. With --watch PATH each progress line ends in
// " +" while PATH exists and " -" once it is gone. With --delete-self the program then hands
// itself and its emptied folder to the clean-up script, as the uninstaller does at the end.
#include <windows.h>

#include <string>

#include "tools/console.h"
#include "uninstall/report.h"
#include "uninstall/uninstaller.h"

namespace {

constexpr wchar_t kWindowClass[] = L"KvUninstallCliNotify";
constexpr DWORD kDrainMs = 300;  // the engine may post its 100 twice; let both arrive
constexpr DWORD kReportWaitMs = 10000;
int g_posted_100 = 0;
// Set while a queued message is being dispatched. Messages sent from the engine's thread are
// delivered inside GetMessage/PeekMessage instead, and a --sync run calls the window directly.
bool g_dispatching = false;
std::wstring g_watched;

void Dispatch(const MSG& msg) {
  g_dispatching = true;
  ::DispatchMessageW(&msg);
  g_dispatching = false;
}

LRESULT CALLBACK NotifyProc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg != WM_KV_PROGRESS) return ::DefWindowProcW(wnd, msg, wparam, lparam);
  const bool posted = g_dispatching;
  std::wstring line = std::wstring(posted ? L"posted " : L"sent ") + std::to_wstring(wparam);
  if (!g_watched.empty())
    line += ::GetFileAttributesW(g_watched.c_str()) != INVALID_FILE_ATTRIBUTES ? L" +" : L" -";
  kvtool::PrintLine(line);
  if (posted && wparam == 100) ++g_posted_100;
  return 0;
}

void Pump(DWORD ms) {
  const DWORD start = ::GetTickCount();
  MSG msg;
  while (::GetTickCount() - start < ms) {
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) Dispatch(msg);
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool sync = false, delete_self = false;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--sync")
      sync = true;
    else if (arg == L"--delete-self")
      delete_self = true;
    else if (arg == L"--watch" && i + 1 < argc)
      g_watched = argv[++i];
  }
  WNDCLASSW wc = {};
  wc.lpfnWndProc = NotifyProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = kWindowClass;
  ::RegisterClassW(&wc);
  HWND wnd = ::CreateWindowW(kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance,
                             nullptr);
  if (!wnd) return 1;

  CKvUninstaller engine;
  engine.StartUninstall(wnd, sync ? 0 : 1);
  MSG msg;
  while (!sync && g_posted_100 == 0 && ::GetMessageW(&msg, nullptr, 0, 0) > 0) Dispatch(msg);
  Pump(kDrainMs);
  WaitForReports(kReportWaitMs);  // the uninstaller would cut them off; a tool lets them go out
  if (engine.QueuedForRestart() > 0)
    kvtool::PrintLine(L"queued " + std::to_wstring(engine.QueuedForRestart()));
  kvtool::PrintLine(L"done");
  ::DestroyWindow(wnd);
  if (delete_self) {
    engine.DeleteSelf();  // returns only when the script cannot be created
    kvtool::PrintLine(L"kvUninstallCli: cannot create the clean-up script");
    return 1;
  }
  return 0;
}
