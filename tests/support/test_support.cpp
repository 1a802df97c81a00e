#include "tests/support/test_support.h"

#include <filesystem>
#include <fstream>
#include <sstream>

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

}  // namespace

std::wstring BinDir() {
  wchar_t dir[MAX_PATH + 1] = {};
  GetCurPath(dir, MAX_PATH + 1);
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

void RemoveTree(const std::wstring& path) {
  std::error_code ignored;
  std::filesystem::remove_all(path, ignored);
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
