#include "tests/support/test_support.h"

#include <atomic>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <thread>

#include "util/files.h"
#include "util/handles.h"

namespace kvtest {
namespace {

struct Reader {
  HANDLE pipe;
  std::string text;
};

DWORD WINAPI ReadAll(void* param) {
  auto* reader = static_cast<Reader*>(param);
  char buffer[4096];
  DWORD got = 0;
  while (::ReadFile(reader->pipe, buffer, sizeof(buffer), &got, nullptr) && got)
    reader->text.append(buffer, got);
  return 0;
}

BOOL CALLBACK FindVisible(HWND wnd, LPARAM param) {
  auto* found = reinterpret_cast<std::pair<DWORD, HWND>*>(param);
  if (::GetWindowThreadProcessId(wnd, nullptr) != found->first || !::IsWindowVisible(wnd)) return TRUE;
  found->second = wnd;
  return FALSE;
}

// The first visible top-level window of the thread.
HWND DialogOf(DWORD thread) {
  std::pair<DWORD, HWND> found{thread, nullptr};
  ::EnumWindows(FindVisible, reinterpret_cast<LPARAM>(&found));
  return found.second;
}

}  // namespace

std::wstring BinDir() {
  wchar_t dir[MAX_PATH] = {};
  GetCurPath(dir);
  return dir;
}

std::wstring FreshDir(const std::wstring& name) {
  const std::wstring dir = L"C:\\kvtest\\" + name + L"\\";
  RemoveTree(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

void WriteText(const std::wstring& path, const std::string& text) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream out(std::filesystem::path(path), std::ios::binary);
  out << text;
}

bool Exists(const std::wstring& path) {
  return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

namespace {

// The Linux name of a path under Wine; empty elsewhere.
std::wstring UnixName(const std::wstring& path) {
  using Fn = char*(__cdecl*)(const wchar_t*);
  const auto unix_name = reinterpret_cast<Fn>(reinterpret_cast<void*>(
      ::GetProcAddress(::GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  char* name = unix_name ? unix_name(path.c_str()) : nullptr;
  if (!name) return {};
  std::string text = name;
  ::HeapFree(::GetProcessHeap(), 0, name);
  while (text.size() > 1 && text.back() == '/') text.pop_back();
  return std::wstring(text.begin(), text.end());
}

// Wine hands a Linux program to the Linux side and does not wait for it: its work is done when
// what it was to change has changed.
bool RunOnLinux(const std::wstring& command, const std::function<bool()>& done) {
  Run(command);
  for (const DWORD start = ::GetTickCount(); !done(); ::Sleep(20))
    if (::GetTickCount() - start > 10000) return false;
  return true;
}

}  // namespace

bool OnLinux(const std::wstring& program, const std::wstring& arguments,
             const std::function<bool()>& done) {
  return RunOnLinux(L"Z:\\bin\\" + program + L" " + arguments, done);
}

std::wstring LinuxPath(const std::wstring& path) { return UnixName(path); }

// Wine cannot remove a link to a folder through any Windows call: there the Linux side removes
// links, and whole trees, whose removal never follows a link.
void RemoveLink(const std::wstring& link) {
  if (::RemoveDirectoryW(link.c_str()) || ::DeleteFileW(link.c_str())) return;
  if (const std::wstring name = UnixName(link); !name.empty())
    OnLinux(L"rm", L"-f \"" + name + L"\"", [&] { return !Exists(link); });
}

void RemoveTree(const std::wstring& path) {
  if (const std::wstring name = UnixName(path); !name.empty()) {
    OnLinux(L"rm", L"-rf \"" + name + L"\"", [&] { return !Exists(path); });
    return;
  }
  std::wstring dir = path;
  while (dir.size() > 3 && dir.back() == L'\\') dir.pop_back();
  const DWORD attributes = ::GetFileAttributesW(dir.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return RemoveLink(dir);
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    ::SetFileAttributesW(dir.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(dir.c_str());
    return;
  }
  WIN32_FIND_DATAW data;
  kv::UniqueFind find(::FindFirstFileW((dir + L"\\*").c_str(), &data));
  if (find) {
    do {
      const std::wstring name = data.cFileName;
      if (name != L"." && name != L"..") RemoveTree(dir + L"\\" + name);
    } while (::FindNextFileW(find.get(), &data));
  }
  find.reset();
  ::RemoveDirectoryW(dir.c_str());
}

bool SparseFile(const std::wstring& path, long long size) {
  kv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER end = {};
  end.QuadPart = size;
  return file && ::SetFilePointerEx(file.get(), end, nullptr, FILE_BEGIN) && ::SetEndOfFile(file.get());
}

std::wstring FullDevice() {
  // A device has no file attributes: opening it is the test.
  const std::wstring path = L"Z:\\dev\\full";
  kv::UniqueFile device(::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
  return device ? path : L"";
}

bool CopyProgram(const std::wstring& program, const std::wstring& target) {
  return ::CopyFileW((BinDir() + program).c_str(), target.c_str(), FALSE) != 0;
}

ProcessResult Run(const std::wstring& command_line, const std::wstring& dir, DWORD timeout_ms) {
  ProcessResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  kv::UniqueHandleKernel read_end, write_end;
  if (!::CreatePipe(read_end.put(), write_end.put(), &inherit, 0)) return result;
  ::SetHandleInformation(read_end.get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW si = {};
  si.cb = sizeof(si);
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdOutput = write_end.get();
  si.hStdError = write_end.get();
  si.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
  PROCESS_INFORMATION pi = {};
  std::wstring cmd = command_line;
  if (!::CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                        dir.empty() ? nullptr : dir.c_str(), &si, &pi))
    return result;
  kv::UniqueHandleKernel process(pi.hProcess), thread(pi.hThread);
  write_end.reset();  // only the child holds the write end now: reads end when it exits

  // Read on a helper thread so that a child that never exits still lets the wait time out.
  Reader reader{read_end.get(), {}};
  kv::UniqueHandleKernel reader_thread(::CreateThread(nullptr, 0, &ReadAll, &reader, 0, nullptr));
  if (::WaitForSingleObject(process.get(), timeout_ms) == WAIT_TIMEOUT) {
    result.timed_out = true;
    ::TerminateProcess(process.get(), 1);
    ::WaitForSingleObject(process.get(), 5000);
  }
  ::WaitForSingleObject(reader_thread.get(), 5000);
  ::GetExitCodeProcess(process.get(), &result.exit_code);
  result.output = reader.text;
  return result;
}

bool Drive(const std::function<void()>& show, const std::function<void(HWND)>& act) {
  std::atomic<DWORD> thread_id{0};
  std::atomic<bool> done{false};
  std::thread dialog_thread([&] {
    thread_id = ::GetCurrentThreadId();
    show();
    done = true;
  });
  while (!thread_id) ::Sleep(1);
  HWND dialog = nullptr;
  for (const DWORD start = ::GetTickCount(); !dialog && ::GetTickCount() - start < 20000; ::Sleep(50))
    dialog = DialogOf(thread_id);
  if (dialog) {
    ::Sleep(300);  // let the dialog finish setting itself up
    act(dialog);
  }
  // Whatever happened, end the dialog (or a message box of its own) so the thread can be joined.
  for (int i = 0; !done && i < 400; ++i, ::Sleep(50))
    if (i > 20 && i % 10 == 0)
      if (HWND still = DialogOf(thread_id)) ::PostMessageW(still, WM_COMMAND, IDCANCEL, 0);
  dialog_thread.join();
  return dialog != nullptr;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

std::string Utf8(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
  return out;
}

}  // namespace kvtest
