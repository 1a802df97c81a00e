// The run's last steps: the product's entry in the list of installed programs and its shortcuts.
#include <string>

#include "uninstall/cleanup_texts.h"
#include "uninstall/uninstaller.h"
#include "util/format.h"
#include "util/shell.h"

namespace {

// A menu folder is a name below the user's Programs folder. A record that climbs out of it with
// "." or ".." pieces, or names a drive, would make the walk sweep the Start Menu or more.
bool IsPlainMenuFolder(const std::wstring& name) {
  if (name.find(L':') != std::wstring::npos) return false;
  size_t pos = 0;
  while (pos <= name.size()) {
    size_t next = name.find_first_of(L"\\/", pos);
    if (next == std::wstring::npos) next = name.size();
    const std::wstring piece = name.substr(pos, next - pos);
    if (piece.empty() || piece == L"." || piece == L"..") return false;
    pos = next + 1;
  }
  return true;
}

}  // namespace

int CKvUninstaller::ClearReg(LPCWSTR key) {
  // An empty name would address the Uninstall key itself.
  if (!key || key[0] == L'\0') return 1;
  const std::wstring subkey = std::wstring(kUninstallKeyRoot) + key;
  // Deletes only a key without subkeys, in the process's own registry view.
  ::RegDeleteKeyW(HKEY_LOCAL_MACHINE, subkey.c_str());
  return 1;
}

void CKvUninstaller::DelShortcut() {
  const std::wstring menu = SlotText(m_record.menuFolder);
  wchar_t programs[MAX_PATH] = {};
  if (!menu.empty() && IsPlainMenuFolder(menu) && GetProgramsPath(programs, MAX_PATH))
    DelDir((std::wstring(programs) + L"\\" + menu + L"\\").c_str());

  wchar_t desktop[MAX_PATH] = {};
  if (GetDesktopPath(desktop, MAX_PATH)) {
    const std::wstring link =
        kv::FormatText(kDesktopLinkFormat, {desktop, SlotText(m_record.displayName)});
    ::DeleteFileW(link.c_str());
  }

  for (const UninstallEntry& entry : m_shortcuts) ::DeleteFileW(SlotText(entry.path).c_str());
}
