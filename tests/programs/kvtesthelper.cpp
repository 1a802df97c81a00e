// The one program the tests start, copy into installations and drive from outside. Each
// sub-command stands in for a program of its own; a copy named after one (args.exe) runs it with
// every argument, for a starter that chooses the whole command line itself:
//   args ARGS...                  waits 500 ms (with args.gate beside it: until that file goes, at
//                                 most 30 s), then writes its command line (UTF-8) to args.txt
//                                 beside itself: a browser or handler the toolkit starts
//   crash [two]                   starts as the uninstaller's entry does and faults (two: a second
//                                 thread faults 50 ms later; <exe>.threads.txt then says
//                                 "alive=<0|1> cpu_ms=<n>" of it); prints "faulting main=<tid>
//                                 second=<tid or 0>" first
//   remote-fault PATH             starts a thread at an unmapped address in the running PATH
//   exitapp                       CKvApp::ExitApp with a timer asleep; prints what ran on the way
//                                 out, the exit handler with the time since ExitApp began
//   instance NAME window|plain REPORT QUIT_EVENT
//                                 CheckOneInstance(NAME) -> "check <n>" into REPORT; window mode
//                                 shows a minimised window titled NAME and reports a WM_COPYDATA
//   sleep MS [REPORT] [--hold PATH]
//                                 sleeps, then appends "slept" to REPORT; meanwhile holds PATH open
//                                 without sharing deletion and says "held" once it does
//   net get URL SIZE | post URL DATA SIZE | probe URL   [--log]
//                                 one request of the process-wide client: "result", "infolen",
//                                 "body HEX", "memory BEFORE AFTER" (peak working set)
//   log write|force TEXT | write2 TEXT N
//   msgbox STYLE COUNTDOWN CHECK TITLE
//                                 one message box; prints "result=<n>" and exits with it
//   uninstall [--skip-run] [--marker PATH]
//                                 the engine over its own folder, then DeleteSelf (installed as
//                                 kvUninstall.exe); exit 3 means DeleteSelf returned; --marker:
//                                 the file an exit handler would write
//   load NAME [--restricted]      loads a library by name, after the uninstaller's restriction
//                                 with --restricted: exit 0 loaded, 5 not
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/app.h"
#include "app/app_texts.h"
#include "services/crash_dump.h"
#include "services/http_client.h"
#include "services/logger.h"
#include "services/thread.h"
#include "ui/message_box.h"
#include "uninstall/uninstaller.h"
#include "util/files.h"
#include "util/handles.h"
#include "util/system.h"

namespace {

using Args = std::vector<std::wstring>;

std::string Utf8(const std::wstring& text) {
  const int n = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n - 1 : 0), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
  return out;
}

std::wstring OwnFolder() {
  wchar_t dir[MAX_PATH + 1] = {};
  GetCurPath(dir);
  return dir;
}

void Append(const std::wstring& file, const std::string& line) {
  if (kv::UniqueStdioFile f(_wfopen(file.c_str(), L"ab")); f) std::fprintf(f.get(), "%s\n", line.c_str());
}

bool Has(const Args& args, const wchar_t* flag) {
  for (const std::wstring& a : args)
    if (a == flag) return true;
  return false;
}

std::wstring After(const Args& args, const wchar_t* flag) {
  for (size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == flag) return args[i + 1];
  return L"";
}

// ---- a browser or handler -----------------------------------------------------------------------

int ArgsCommand(const Args&) {
  // The gate lets a test see that whoever started this program did not wait for its end.
  const std::wstring gate = OwnFolder() + L"args.gate";
  if (::GetFileAttributesW(gate.c_str()) == INVALID_FILE_ATTRIBUTES) ::Sleep(500);
  for (int i = 0; i < 3000 && ::GetFileAttributesW(gate.c_str()) != INVALID_FILE_ATTRIBUTES; ++i) ::Sleep(10);
  if (kv::UniqueStdioFile f(_wfopen((OwnFolder() + L"args.txt").c_str(), L"wb")); f)
    std::fputs(Utf8(::GetCommandLineW()).c_str(), f.get());
  return 0;
}

// ---- faults -------------------------------------------------------------------------------------

HANDLE g_go = nullptr;
HANDLE g_second = nullptr;

void Fault() {
  volatile int* nowhere = nullptr;
  *nowhere = 1;
}

ULONGLONG ThreadCpuMs(HANDLE thread) {
  FILETIME created, exited, kernel, user;
  ::GetThreadTimes(thread, &created, &exited, &kernel, &user);
  auto ms = [](FILETIME t) { return ((ULONGLONG{t.dwHighDateTime} << 32) | t.dwLowDateTime) / 10000; };
  return ms(kernel) + ms(user);
}

DWORD WINAPI SecondFault(void*) {
  ::WaitForSingleObject(g_go, INFINITE);
  ::Sleep(50);
  Fault();
  return 0;
}

// Whether the second thread waits (alive, no processor time) while the first fault is handled.
DWORD WINAPI WatchSecond(void*) {
  ::WaitForSingleObject(g_go, INFINITE);
  ::Sleep(1550);
  DWORD code = 0;
  const bool alive = ::GetExitCodeThread(g_second, &code) && code == STILL_ACTIVE;
  const ULONGLONG before = ThreadCpuMs(g_second);
  ::Sleep(2000);
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  Append(std::wstring(exe) + L".threads.txt",
         "alive=" + std::to_string(alive ? 1 : 0) + " cpu_ms=" + std::to_string(ThreadCpuMs(g_second) - before));
  return 0;
}

int CrashCommand(const Args& args) {
  CKvApp* app = GetKvApp();
  app->SetAppName(kv::app::kAppName);
  // Installed twice: the free function makes the handler, the entry's call must win.
  InstallDump(L"earlier", L"earlier_tag");
  GetKvDump()->Install(app->m_szAppName, kv::app::kDumpName);
  const bool two = Has(args, L"two");
  if (two) {
    g_go = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_second = ::CreateThread(nullptr, 0, SecondFault, nullptr, 0, nullptr);
    kv::UniqueHandleKernel(::CreateThread(nullptr, 0, WatchSecond, nullptr, 0, nullptr));
  }
  std::printf("faulting main=%lu second=%lu\n", ::GetCurrentThreadId(), g_second ? ::GetThreadId(g_second) : 0ul);
  std::fflush(stdout);
  if (two) ::SetEvent(g_go);
  Fault();
  std::printf("survived\n");
  return 3;
}

int RemoteFaultCommand(const Args& args) {
  if (args.empty()) return 2;
  kv::UniqueHandleKernel snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof(entry);
  for (BOOL more = ::Process32FirstW(snapshot.get(), &entry); more; more = ::Process32NextW(snapshot.get(), &entry)) {
    kv::UniqueHandleKernel process(::OpenProcess(PROCESS_ALL_ACCESS, FALSE, entry.th32ProcessID));
    wchar_t image[MAX_PATH] = {};
    DWORD size = MAX_PATH;
    if (!process || !::QueryFullProcessImageNameW(process.get(), 0, image, &size) ||
        ::lstrcmpiW(image, args[0].c_str()) != 0)
      continue;
    // Nothing is ever mapped in the first 64 KB of a process.
    DWORD tid = 0;
    kv::UniqueHandleKernel thread(::CreateRemoteThread(
        process.get(), nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(0x100), nullptr, 0, &tid));
    if (!thread) return 2;
    std::printf("faulting pid=%lu thread=%lu\n", entry.th32ProcessID, tid);
    return 0;
  }
  return 1;
}

// ---- the application object ---------------------------------------------------------------------

struct Farewell {
  ~Farewell() {
    std::printf("static destructor ran\n");
    std::fflush(stdout);
  }
};

DWORD g_exit_started = 0;

int ExitAppCommand(const Args&) {
  static Farewell farewell;
  std::atexit([] {
    std::printf("exit handler ran %lu ms after ExitApp\n", ::GetTickCount() - g_exit_started);
    std::fflush(stdout);
  });
  g_exit_started = ::GetTickCount();
  GetKvThread()->StartTimer(
      1, [](void*) {}, 5000, nullptr);  // asleep: Stop ends it after 100 ms
  GetKvApp()->ExitApp();
  return 3;
}

// Upper-case hex of bytes, "-" for none.
std::string Hex(const std::string& bytes) {
  std::string hex;
  char pair[3];
  for (unsigned char b : bytes) hex += (std::snprintf(pair, sizeof(pair), "%02X", b), pair);
  return hex.empty() ? "-" : hex;
}

// ---- single instance, and programs to wait for ---------------------------------------------------

std::wstring g_report;

LRESULT CALLBACK InstanceWindow(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg != WM_COPYDATA) return ::DefWindowProcW(wnd, msg, wparam, lparam);
  const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
  const std::wstring text(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
  // The terminator travels with the text: it shows as the last unit.
  const bool terminated = !text.empty() && text.back() == L'\0';
  Append(g_report, "copydata " + std::to_string(data->dwData) + " " + Utf8(text.c_str()) +
                       (terminated ? " (terminated)" : " (unterminated)"));
  Append(g_report, std::string("iconic ") + (::IsIconic(wnd) ? "1" : "0"));
  ::PostQuitMessage(0);
  return TRUE;
}

int InstanceCommand(const Args& args) {
  if (args.size() < 4) return 2;
  const std::wstring& name = args[0];
  g_report = args[2];
  kv::UniqueHandleKernel quit(::CreateEventW(nullptr, TRUE, FALSE, args[3].c_str()));
  HWND window = nullptr;
  if (args[1] == L"window") {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = InstanceWindow;
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = L"KvInstanceHelper";
    ::RegisterClassW(&wc);
    window = ::CreateWindowExW(0, wc.lpszClassName, name.c_str(), WS_OVERLAPPEDWINDOW, 10, 10, 200, 100, nullptr,
                               nullptr, wc.hInstance, nullptr);
    ::ShowWindow(window, SW_SHOWMINIMIZED);
  }
  Append(g_report, "check " + std::to_string(CheckOneInstance(name.c_str(), nullptr)));
  if (window) Append(g_report, std::string("window iconic ") + (::IsIconic(window) ? "1" : "0"));
  // Until the quit event, a WM_QUIT, or 30 seconds.
  for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < 30000;) {
    HANDLE wait = quit.get();
    if (::MsgWaitForMultipleObjects(1, &wait, FALSE, 30000 - (::GetTickCount() - start), QS_ALLINPUT) !=
        WAIT_OBJECT_0 + 1)
      break;
    MSG msg;
    bool done = false;
    while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      done = done || msg.message == WM_QUIT;
      ::DispatchMessageW(&msg);
    }
    if (done) break;
  }
  if (window) ::DestroyWindow(window);
  return 0;
}

int SleepCommand(const Args& args) {
  if (args.empty()) return 2;
  kv::UniqueFile held;
  if (const std::wstring path = After(args, L"--hold"); !path.empty()) {
    held.reset(::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!held) return 4;
    std::puts("held");
    std::fflush(stdout);
  }
  ::Sleep(static_cast<DWORD>(_wtoi(args[0].c_str())));
  if (args.size() > 1 && args[1] != L"--hold") Append(args[1], "slept");
  return 0;
}

// ---- the HTTP client and the log, from a folder of their own -------------------------------------

SIZE_T PeakWorkingSet() {
  PROCESS_MEMORY_COUNTERS counters = {};
  counters.cb = sizeof(counters);
  ::K32GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof(counters));
  return counters.PeakWorkingSetSize;
}

int NetCommand(const Args& args) {
  if (args.size() < 2) return 2;
  if (Has(args, L"--log")) CKvLog::Instance().ForceLog(true);
  if (args[0] == L"probe") return std::printf("result %d\n", isConnected(args[1].c_str())), 0;
  const bool post = args[0] == L"post";
  if (args.size() < (post ? 4u : 3u)) return 2;
  const std::string data = Utf8(post ? args[2] : L"");
  std::vector<char> buffer(static_cast<size_t>(_wtoi(args[post ? 3 : 2].c_str())), '\0');
  CKvNet::Instance();  // the client and zlib in place: the request alone is measured
  const SIZE_T before = PeakWorkingSet();
  const int result = post ? CKvNet::Instance().Post(args[1].c_str(), data.data(), static_cast<int>(data.size()),
                                                    buffer.data(), static_cast<int>(buffer.size()))
                          : GetUrlInfo(args[1].c_str(), buffer.data(), static_cast<int>(buffer.size()));
  std::printf("result %d\ninfolen %d\nbody %s\nmemory %lu %lu\n", result, CKvNet::Instance().GetInfoLen(),
              Hex(std::string(buffer.begin(), buffer.end())).c_str(), static_cast<unsigned long>(before),
              static_cast<unsigned long>(PeakWorkingSet()));
  return 0;
}

int LogCommand(const Args& args) {
  if (args.size() < 2) return 2;
  if (args[0] == L"force") CKvLog::Instance().ForceLog(true);
  if (args[0] == L"write2" && args.size() > 2)
    CKvLog::Instance().WriteLog2(L"%s=%d", args[1].c_str(), _wtoi(args[2].c_str()));
  else
    WriteLog(args[1].c_str());
  std::printf("done\n");
  return 0;
}

// ---- windows ------------------------------------------------------------------------------------

int MsgBoxCommand(const Args& args) {
  if (args.size() < 4) return 100;
  GetKvApp()->SetAppName(args[3].c_str());
  int result = 0;
  {
    CKvMsgBox box;
    box.m_bShowCheck = _wtoi(args[2].c_str()) != 0;
    box.m_bCheckInit = true;
    box.m_strCheckLabel = L"不再提示";
    result = box.ShowBox(nullptr, L"卸载已完成，部分文件需要重新启动后才能删除。", args[3].c_str(),
                         _wtoi(args[0].c_str()), _wtoi(args[1].c_str()), 300, 200, -1, -1);
  }
  std::printf("result=%d\n", result);
  std::fflush(stdout);
  return result;
}

// ---- the uninstaller's end ------------------------------------------------------------------------

std::wstring g_marker;

int UninstallCommand(const Args& args) {
  g_marker = After(args, L"--marker");
  // DeleteSelf must end the process without any exit handler or static destructor running.
  static struct Marker {
    ~Marker() {
      if (!g_marker.empty()) Append(g_marker, "static destructor ran");
    }
  } marker;
  std::atexit([] {
    if (!g_marker.empty()) Append(g_marker, "exit handler ran");
  });
  CKvUninstaller engine;
  // No window: the engine's progress messages go nowhere, as for a dialog that has gone.
  if (!Has(args, L"--skip-run")) engine.StartUninstall(nullptr, 0);
  engine.DeleteSelf();
  return 3;
}

int LoadCommand(const Args& args) {
  if (args.empty()) return 2;
  if (Has(args, L"--restricted")) kv::RestrictLibrarySearch();
  return kv::UniqueModule(::LoadLibraryW(args[0].c_str())) ? 0 : 5;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::map<std::wstring, std::function<int(const Args&)>> commands = {
      {L"args", ArgsCommand},
      {L"crash", CrashCommand},
      {L"remote-fault", RemoteFaultCommand},
      {L"exitapp", ExitAppCommand},
      {L"instance", InstanceCommand},
      {L"sleep", SleepCommand},
      {L"net", NetCommand},
      {L"log", LogCommand},
      {L"msgbox", MsgBoxCommand},
      {L"uninstall", UninstallCommand},
      {L"load", LoadCommand},
  };
  wchar_t exe[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  std::wstring own = std::wcsrchr(exe, L'\\') ? std::wcsrchr(exe, L'\\') + 1 : exe;
  own.resize(own.rfind(L'.') == std::wstring::npos ? own.size() : own.rfind(L'.'));
  if (commands.count(own)) return commands.at(own)(Args(argv + 1, argv + argc));
  if (argc < 2 || !commands.count(argv[1])) {
    std::fputs("usage: kvtesthelper COMMAND [ARGS...] (see the source)\n", stderr);
    return 2;
  }
  return commands.at(argv[1])(Args(argv + 2, argv + argc));
}
