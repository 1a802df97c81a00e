// The run's last steps: the product's entry in the list of installed programs and its shortcuts.
#include <string>

#include "uninstall/cleanup_texts.h"
#include "uninstall/deletion_guard.h"
#include "uninstall/run_log.h"
#include "uninstall/uninstaller.h"
#include "util/format.h"
#include "util/shell.h"

int CKvUninstaller::ClearReg(LPCWSTR key) {
  // An empty name would address the Uninstall key itself.
  if (!key || key[0] == L'\0') return 1;
  const std::wstring subkey = std::wstring(kUninstallKeyRoot) + key;
  // Deletes only a key without subkeys, in the process's own registry view.
  const LONG result = ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, subkey.c_str());
  kv::runlog::Note(result == ERROR_SUCCESS ? L"key removed:" : L"key not removed:",
                   L"HKLM\\" + subkey, static_cast<unsigned long>(result));
  return 1;
}

void CKvUninstaller::DelShortcut() {
  // The menu folder is a name below the user's Programs folder and must stay there, wherever a
  // link on the way would lead.
  const std::wstring menu = SlotText(m_record.menuFolder);
  wchar_t programs[MAX_PATH] = {};
  if (!menu.empty() && GetProgramsPath(programs)) {
    const std::wstring folder = std::wstring(programs) + L"\\" + menu + L"\\";
    const kv::guard::Verdict verdict = kv::guard::CheckFolder(folder, programs);
    if (verdict)
      SweepFolder(verdict.resolved);
    else
      kv::runlog::NoteRefusal(L"menu folder", folder, verdict.refusal);
  }

  // The display name becomes a file name: a name with separators or dots would point elsewhere.
  const std::wstring name = SlotText(m_record.displayName);
  wchar_t desktop[MAX_PATH] = {};
  if (!name.empty() && GetDesktopPath(desktop)) {
    const std::wstring link = kv::FormatText(kv::kLinkPathFormat, {desktop, name});
    const kv::guard::Verdict verdict = kv::guard::IsPlainName(name + L".lnk")
                                           ? kv::guard::CheckFile(link)
                                           : kv::guard::Verdict{kv::guard::Refusal::kDotPiece, {}};
    if (verdict)
      DeleteFileEntry(verdict.resolved);
    else
      kv::runlog::NoteRefusal(L"desktop link", link, verdict.refusal);
  }

  for (const UninstallEntry& entry : m_shortcuts) {
    const std::wstring path = SlotText(entry.path);
    const kv::guard::Verdict verdict = kv::guard::CheckFile(path);
    if (verdict)
      DeleteFileEntry(verdict.resolved);
    else
      kv::runlog::NoteRefusal(L"shortcut", path, verdict.refusal);
  }
}
