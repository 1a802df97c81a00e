// Times the engine's folder-mode run against two baselines on identical trees of 10,000 files in
// 100 folders, inside the Wine prefix: the system's own "rd /s /q", and a plain loop of
// FindFirstFileW, DeleteFileW and RemoveDirectoryW without any checks or progress.
//
//   engine_bench [--rounds N]   builds the trees, runs both, prints the figures
//   engine_bench --engine       (internal) lies in the tree, runs the engine over its own folder
//                               with a window on this UI thread pumping every progress message
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "uninstall/record.h"
#include "uninstall/uninstaller.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 100;
constexpr DWORD kEngineStartDelayMs = 300;  // the worker's fixed pause before it reads the record
constexpr wchar_t kRoot[] = L"C:\\kvbench\\";

double Now() {
  LARGE_INTEGER f, c;
  ::QueryPerformanceFrequency(&f);
  ::QueryPerformanceCounter(&c);
  return static_cast<double>(c.QuadPart) * 1000.0 / static_cast<double>(f.QuadPart);
}

void MakeTree(const std::wstring& dir) {
  ::CreateDirectoryW(dir.c_str(), nullptr);
  const char content[] = "benchmark file\r\n";
  for (int d = 0; d < kFolders; ++d) {
    const std::wstring folder = dir + L"folder" + std::to_wstring(d) + L"\\";
    ::CreateDirectoryW(folder.c_str(), nullptr);
    for (int f = 0; f < kFilesPerFolder; ++f) {
      kv::UniqueFile file(::CreateFileW((folder + L"file" + std::to_wstring(f) + L".dat").c_str(),
                                        GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
      DWORD written = 0;
      ::WriteFile(file.get(), content, sizeof(content) - 1, &written, nullptr);
    }
  }
}

DWORD RunAndWait(std::wstring command, const std::wstring& dir, std::string* output) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  kv::UniqueHandleKernel read_end, write_end;
  ::CreatePipe(read_end.put(), write_end.put(), &inherit, 0);
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = si.hStdError = write_end.get();
  PROCESS_INFORMATION pi = {};
  if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &si, &pi))
    return static_cast<DWORD>(-1);
  kv::UniqueHandleKernel process(pi.hProcess), thread(pi.hThread);
  write_end.reset();
  char buffer[512];
  DWORD got = 0;
  while (::ReadFile(read_end.get(), buffer, sizeof(buffer), &got, nullptr) && got)
    if (output) output->append(buffer, got);
  ::WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  ::GetExitCodeProcess(process.get(), &code);
  return code;
}

// --- inside the tree -----------------------------------------------------------------------

int g_messages = 0;
bool g_finished = false;

LRESULT CALLBACK NotifyProc(HWND wnd, UINT msg, WPARAM wparam, LPARAM lparam) {
  if (msg != WM_KV_PROGRESS) return ::DefWindowProcW(wnd, msg, wparam, lparam);
  ++g_messages;
  if (wparam == 100 && !::InSendMessage()) g_finished = true;  // the worker's posted 100
  return 0;
}

int RunEngineHere() {
  WNDCLASSW wc = {};
  wc.lpfnWndProc = NotifyProc;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.lpszClassName = L"KvEngineBench";
  ::RegisterClassW(&wc);
  HWND wnd = ::CreateWindowW(wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             wc.hInstance, nullptr);
  CKvUninstaller engine;
  const double start = Now();
  engine.StartUninstall(wnd, 1);
  MSG msg;
  while (!g_finished && ::GetMessageW(&msg, nullptr, 0, 0) > 0) ::DispatchMessageW(&msg);
  const double elapsed = Now() - start - kEngineStartDelayMs;
  std::printf("%.1f %d\n", elapsed, g_messages);
  return 0;
}

// The least any walk must do: list, delete, remove. No checks, no progress.
void PlainDelete(const std::wstring& dir) {
  WIN32_FIND_DATAW data;
  kv::UniqueFind find(::FindFirstFileW((dir + L"*").c_str(), &data));
  if (find) {
    do {
      const std::wstring name = data.cFileName;
      if (name == L"." || name == L"..") continue;
      if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        PlainDelete(dir + name + L"\\");
      else
        ::DeleteFileW((dir + name).c_str());
    } while (::FindNextFileW(find.get(), &data));
  }
  find.reset();
  ::RemoveDirectoryW(dir.c_str());
}

// --- the driver -----------------------------------------------------------------------------

struct Round {
  double engine_ms;
  double rd_ms;
  double plain_ms;
  int messages;
};

bool RunRound(Round* round) {
  const std::wstring a = std::wstring(kRoot) + L"engine\\";
  const std::wstring b = std::wstring(kRoot) + L"rd\\";
  const std::wstring c = std::wstring(kRoot) + L"plain\\";
  ::CreateDirectoryW(kRoot, nullptr);
  MakeTree(a);
  MakeTree(b);
  MakeTree(c);

  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  const std::wstring worker = a + L"engine_bench.exe";
  if (!::CopyFileW(self, worker.c_str(), FALSE)) return false;
  UninstallRecord header = {};
  std::copy(a.begin(), a.end(), header.installDir);
  if (!WriteUninstallRecord((a + kRecordFileName).c_str(), &header, nullptr, 0, nullptr, 0))
    return false;

  std::string output;
  RunAndWait(L"\"" + worker + L"\" --engine", a, &output);
  if (std::sscanf(output.c_str(), "%lf %d", &round->engine_ms, &round->messages) != 2) return false;

  const double start = Now();
  RunAndWait(L"cmd.exe /c rd /s /q \"" + b.substr(0, b.size() - 1) + L"\"", L"", nullptr);
  round->rd_ms = Now() - start;

  const double plain_start = Now();
  PlainDelete(c);
  round->plain_ms = Now() - plain_start;

  // What the engine leaves: its own running program and the emptied folders above it.
  ::DeleteFileW(worker.c_str());
  ::RemoveDirectoryW(a.c_str());
  return ::GetFileAttributesW(b.c_str()) == INVALID_FILE_ATTRIBUTES &&
         ::GetFileAttributesW(c.c_str()) == INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc > 1 && std::wstring(argv[1]) == L"--engine") return RunEngineHere();
  int rounds = 1;
  if (argc > 2 && std::wstring(argv[1]) == L"--rounds") rounds = std::max(1, _wtoi(argv[2]));

  std::vector<Round> results;
  for (int i = 0; i < rounds; ++i) {
    Round round = {};
    if (!RunRound(&round)) {
      std::printf("round %d failed\n", i + 1);
      return 1;
    }
    std::printf(
        "round %d: engine %.1f ms (%d progress messages), rd /s /q %.1f ms, plain loop %.1f ms\n",
        i + 1, round.engine_ms, round.messages, round.rd_ms, round.plain_ms);
    results.push_back(round);
  }
  auto median = [&](auto field) {
    std::vector<double> v;
    for (const Round& r : results) v.push_back(r.*field);
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
  };
  const double engine = median(&Round::engine_ms), rd = median(&Round::rd_ms),
               plain = median(&Round::plain_ms);
  std::printf("tree: %d files in %d folders; rounds: %d (medians)\n", kFolders * kFilesPerFolder,
              kFolders, rounds);
  std::printf("(a) engine, folder mode, progress to a pumping UI thread: %.1f ms\n", engine);
  std::printf("    (its fixed %lu ms start delay excluded)\n",
              static_cast<unsigned long>(kEngineStartDelayMs));
  std::printf("(b) cmd /c rd /s /q:                                       %.1f ms\n", rd);
  std::printf("(c) plain FindFirstFileW/DeleteFileW/RemoveDirectoryW loop:  %.1f ms\n", plain);
  std::printf("ratio a/b: %.2f\n", engine / rd);
  std::printf("ratio a/c: %.2f\n", engine / plain);
  return 0;
}
