#include "uninstall/self_delete.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <vector>

#include "uninstall/cleanup_texts.h"
#include "uninstall/protected_folders.h"
#include "uninstall/uninstaller.h"
#include "util/format.h"
#include "util/handles.h"

namespace kv::self_delete {

std::wstring FolderToRemove(const std::wstring& installDir) {
  if (installDir.empty() || !::PathFileExistsW(installDir.c_str())) return {};
  // A record naming a drive root or a system folder is a broken install: remove only the program.
  if (IsProtectedFolder(installDir)) return {};
  return installDir;
}

std::wstring ScriptText(const std::wstring& exe, const std::wstring& folder) {
  if (folder.empty()) return FormatText(kScriptTemplateFile, {exe});
  return FormatText(kScriptTemplateFolder, {exe, folder});
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
  int size = ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr,
                                   lossy_flag);
  if (size == 0) {
    // UTF-8 and UTF-7 take neither flags nor a default-character report; UTF-8 fails outright
    // (with the flag below) instead of substituting.
    flags = WC_ERR_INVALID_CHARS;
    lossy_flag = nullptr;
    size = ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
    if (size == 0) {
      flags = 0;
      size = ::WideCharToMultiByte(codePage, flags, text.data(), length, nullptr, 0, nullptr, nullptr);
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

bool WriteScript(FILE* file, const std::string& bytes) {
  return file && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
}

FILE* OpenScript(const char* path) { return std::fopen(path, "w"); }

}  // namespace kv::self_delete

// Never returns once the script exists: the process ends with exit code 0 and the script takes
// the program file (and in folder mode the installation folder) away after it.
void CKvUninstaller::DeleteSelf() {
  namespace sd = kv::self_delete;
  kv::UniqueStdioFile file(sd::OpenScript(kScriptPath));
  if (!file) return;

  wchar_t module[MAX_PATH + 1] = {};
  const DWORD length = ::GetModuleFileNameW(nullptr, module, MAX_PATH);
  const std::wstring exe(module, length < MAX_PATH ? length : 0);
  const std::wstring folder = sd::FolderToRemove(SlotText(m_record.installDir));

  const std::wstring exe_spelled = sd::SpellablePath(exe, CP_THREAD_ACP);
  const std::wstring folder_spelled =
      folder.empty() ? L"" : sd::SpellablePath(folder, CP_THREAD_ACP);

  std::string bytes;
  if (exe_spelled.empty() ||
      !sd::ToCodePage(sd::ScriptText(exe_spelled, folder_spelled), CP_THREAD_ACP, &bytes)) {
    // No spelling of the program's path survives this code page: a script would delete the
    // wrong files or none. The system deletes the program at the next restart instead, and then
    // the folder, which the run has emptied by then.
    file.reset();
    ::DeleteFileW(kScriptPathW);
    ::MoveFileExW(exe.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    if (!folder.empty()) ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
    ::ExitProcess(0);
  }
  // The folder alone has no spelling: the script takes the program, the restart the folder.
  if (!folder.empty() && folder_spelled.empty())
    ::MoveFileExW(folder.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT);
  sd::WriteScript(file.get(), bytes);
  file.reset();

  ::ShellExecuteW(nullptr, kScriptVerb, kScriptPathW, nullptr, kScriptFolder, SW_HIDE);
  ::ExitProcess(0);
}
