#include "uninstall/self_delete.h"

#include <sddl.h>

#include <vector>

#include "uninstall/cleanup_texts.h"
#include "uninstall/deletion_guard.h"
#include "uninstall/folder_sweep.h"
#include "uninstall/run_log.h"
#include "uninstall/uninstaller.h"
#include "util/format.h"
#include "util/handles.h"
#include "util/files.h"

namespace kv::self_delete {
namespace {

std::wstring SystemFolder() {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
  return (length && length < MAX_PATH) ? std::wstring(folder, length) : std::wstring();
}

// Whatever lies at the script's path goes first: a file of someone else's (perhaps a hard link
// to one), a link, an empty folder. What cannot go makes the creation below fail.
void ClearPath(const std::wstring& path) {
  WIN32_FIND_DATAW data;
  kv::UniqueFind entry(::FindFirstFileW(path.c_str(), &data));
  if (!entry) return;
  if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
    ::RemoveDirectoryW(path.c_str());
    return;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) &&
      !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileW(path.c_str());
}

std::string TextModeBytes(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size() + 8);
  for (char c : bytes) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

std::wstring RunningProgram() {
  static const std::wstring program = [] {
    const std::wstring module = kv::ProgramPath();
    const std::wstring final_path = module.empty() ? module : guard::FinalPath(module);
    return final_path.empty() ? module : final_path;
  }();
  return program;
}

std::wstring BatchLiteral(const std::wstring& path) {
  std::wstring out;
  for (wchar_t c : path) {
    out += c;
    if (c == L'%') out += L'%';
  }
  return out;
}

std::wstring ScriptText(const std::wstring& system_dir, DWORD pid, const std::wstring& exe,
                        const std::wstring& folder) {
  const std::wstring id = std::to_wstring(pid);
  if (folder.empty())
    return FormatText(kScriptTemplateFile, {BatchLiteral(system_dir), id, BatchLiteral(exe)});
  return FormatText(kScriptTemplateFolder,
                    {BatchLiteral(system_dir), id, BatchLiteral(exe), BatchLiteral(folder)});
}

bool ToCodePage(const std::wstring& text, UINT codePage, std::string* out) {
  if (text.empty()) {
    out->clear();
    return true;
  }
  const int length = static_cast<int>(text.size());
  DWORD flags = WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  BOOL* lossy_flag = &lossy;
  int size =
      ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, lossy_flag);
  if (size == 0) {
    // UTF-8 and UTF-7 take neither flags nor a default-character report; UTF-8 fails outright
    // (with the flag below) instead of substituting.
    flags = WC_ERR_INVALID_CHARS;
    lossy_flag = nullptr;
    size =
        ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size == 0) {
      flags = 0;
      size =
          ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    }
  }
  if (size <= 0 || lossy) return false;
  std::string bytes(static_cast<size_t>(size), '\0');
  if (::WideCharToMultiByte(codePage, flags, text.data(), length, bytes.data(), size, nullptr,
                            lossy_flag) != size ||
      lossy)
    return false;
  *out = std::move(bytes);
  return true;
}

std::wstring SpellablePath(const std::wstring& path, UINT codePage) {
  std::string ignored;
  if (ToCodePage(path, codePage, &ignored)) return path;
  const DWORD size = ::GetShortPathNameW(path.c_str(), nullptr, 0);
  if (size == 0) return {};
  std::vector<wchar_t> buffer(size + 1);
  const DWORD length = ::GetShortPathNameW(path.c_str(), buffer.data(), size + 1);
  if (length == 0 || length > size) return {};
  const std::wstring short_path(buffer.data(), length);
  return ToCodePage(short_path, codePage, &ignored) ? short_path : std::wstring();
}

UINT ScriptCodePage() { return ::GetOEMCP(); }

bool WriteFreshScript(const std::wstring& path, const std::string& bytes) {
  ClearPath(path);
  kv::UniqueLocal descriptor;
  if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(
          kScriptSecurity, SDDL_REVISION_1,
          reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()), nullptr))
    return false;
  SECURITY_ATTRIBUTES security = {sizeof(security), descriptor.get(), FALSE};
  kv::UniqueFile file(::CreateFileW(path.c_str(), GENERIC_WRITE, 0, &security, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  const std::string disk = TextModeBytes(bytes);
  DWORD written = 0;
  // Written through to the disk before cmd reads it: a write that fails shows here.
  const bool complete =
      ::WriteFile(file.get(), disk.data(), static_cast<DWORD>(disk.size()), &written, nullptr) &&
      written == disk.size() && ::FlushFileBuffers(file.get());
  file.reset();
  if (complete) return true;
  ::DeleteFileW(path.c_str());
  return false;
}

std::wstring ScriptCommandLine(const std::wstring& system_dir, const std::wstring& script) {
  return FormatText(kScriptCommandFormat, {system_dir, script});
}

bool StartScript(const std::wstring& script) {
  const std::wstring system_dir = SystemFolder();
  if (system_dir.empty()) return false;
  const std::wstring cmd = system_dir + L"\\cmd.exe";
  std::wstring command_line = ScriptCommandLine(system_dir, script);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process = {};
  if (!::CreateProcessW(cmd.c_str(), command_line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                        nullptr, kScriptFolder, &startup, &process))
    return false;
  kv::UniqueHandleKernel process_handle(process.hProcess), thread_handle(process.hThread);
  return true;
}

}  // namespace kv::self_delete

// Never returns when the script runs or the restart takes over: the process ends at once, and
// the script takes the program and its emptied folder away after it.
void CKvUninstaller::DeleteSelf() {
  namespace sd = kv::self_delete;
  const std::wstring exe = sd::RunningProgram();
  // Only the program's own folder, and only where the guard lets a sweep go.
  const kv::guard::Verdict own = kv::guard::CheckFolder(m_szOwnDir);
  const std::wstring folder = own ? own.resolved : std::wstring();
  const UINT code_page = sd::ScriptCodePage();
  const std::wstring exe_spelled = sd::SpellablePath(exe, code_page);
  const std::wstring folder_spelled = folder.empty() ? L"" : sd::SpellablePath(folder, code_page);

  // A process's current folder cannot be removed while it lives, and the script may reach rd
  // before this process is wholly gone: the folder is let go first.
  ::SetCurrentDirectoryW(kScriptFolder);
  std::string bytes;
  const bool written = !exe.empty() && !exe_spelled.empty() &&
                       sd::ToCodePage(sd::ScriptText(sd::SystemFolder(), ::GetCurrentProcessId(),
                                                     exe_spelled, folder_spelled),
                                      code_page, &bytes) &&
                       sd::WriteFreshScript(kScriptPath, bytes);
  if (!written || !sd::StartScript(kScriptPath)) {
    // No script (no spelling of the program's path in cmd's code page, no way to create the file
    // or to start it): the restart deletes the program, then its folder if nothing is left.
    if (written) ::DeleteFileW(kScriptPath);
    if (exe.empty() || !kv::sweep::QueueForRestart(exe)) return;
    kv::runlog::Note(L"no clean-up script, queued for restart:", exe);
    ++m_nQueued;
    if (!folder.empty()) kv::sweep::QueueForRestart(folder);
  } else if (!folder.empty() && folder_spelled.empty()) {
    // The folder alone has no spelling: the script takes the program, the restart the folder.
    kv::sweep::QueueForRestart(folder);
  }
  const UINT code = m_nQueued > 0 ? kExitRestartNeeded : 0;
  kv::runlog::Note(L"exit code " + std::to_wstring(code));
  ::ExitProcess(code);
}
