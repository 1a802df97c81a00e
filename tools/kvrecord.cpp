// Writes a kvUninstall.dat from options, or prints one in readable form.
//
//   kvrecord write FILE [--key K] [--name N] [--menu M] [--dir D]
//                       [--file PATH]... [--folder PATH]... [--shortcut PATH]...
//   kvrecord print FILE
//   kvrecord key FILE [--write]   the Uninstall key's values an installer sets for the record at
//                                 FILE (the uninstaller lies beside it); --write sets them too
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/console.h"
#include "uninstall/deletion_guard.h"
#include "uninstall/cleanup_texts.h"
#include "uninstall/record.h"
#include "util/handles.h"

namespace {

template <size_t N>
bool Fill(wchar_t (&slot)[N], const std::wstring& text) {
  if (text.size() >= N) return false;
  std::memset(slot, 0, sizeof(slot));
  std::memcpy(slot, text.data(), text.size() * sizeof(wchar_t));
  return true;
}

bool MakeEntry(int is_file, std::wstring path, std::vector<UninstallEntry>* list) {
  if (!is_file && !path.empty() && path.back() != L'\\') path += L'\\';
  UninstallEntry entry = {};
  entry.isFile = is_file;
  if (!Fill(entry.path, path)) return false;
  list->push_back(entry);
  return true;
}

int Usage() {
  kvtool::PrintLine(
      L"usage: kvrecord write FILE [--key K] [--name N] [--menu M] [--dir D]\n"
      L"                           [--file PATH]... [--folder PATH]... [--shortcut PATH]...\n"
      L"       kvrecord print FILE\n"
      L"       kvrecord key FILE [--write]");
  return 2;
}

int Write(int argc, wchar_t** argv) {
  UninstallRecord header = {};
  std::vector<UninstallEntry> removals, shortcuts;
  for (int i = 3; i < argc; ++i) {
    const std::wstring option = argv[i];
    if (i + 1 >= argc) return Usage();
    const std::wstring value = argv[++i];
    bool fits = true;
    if (option == L"--key")
      fits = Fill(header.uninstallKey, value);
    else if (option == L"--name")
      fits = Fill(header.displayName, value);
    else if (option == L"--menu")
      fits = Fill(header.menuFolder, value);
    else if (option == L"--dir")
      fits = Fill(header.installDir, value);
    else if (option == L"--file")
      fits = MakeEntry(1, value, &removals);
    else if (option == L"--folder")
      fits = MakeEntry(0, value, &removals);
    else if (option == L"--shortcut")
      fits = MakeEntry(1, value, &shortcuts);
    else
      return Usage();
    if (!fits) {
      kvtool::PrintLine(L"kvrecord: too long for its slot: " + value);
      return 1;
    }
  }
  // Say which path the uninstaller would refuse to delete, and why; the writer refuses them all.
  for (const auto* list : {&removals, &shortcuts})
    for (const UninstallEntry& entry : *list) {
      const std::wstring path = SlotText(entry.path);
      const bool folder = list == &removals && !entry.isFile;
      const kv::guard::Verdict verdict =
          folder ? kv::guard::CheckPlannedFolder(path) : kv::guard::CheckPlannedFile(path);
      if (!verdict)
        kvtool::PrintLine(L"kvrecord: refused " + path + L": " +
                          kv::guard::RefusalText(verdict.refusal));
    }
  if (header.installDir[0]) {
    const kv::guard::Verdict verdict = kv::guard::CheckPlannedFolder(SlotText(header.installDir));
    if (!verdict)
      kvtool::PrintLine(L"kvrecord: refused --dir " + SlotText(header.installDir) + L": " +
                        kv::guard::RefusalText(verdict.refusal));
  }
  if (!WriteUninstallRecord(argv[2], &header, removals.data(), static_cast<int>(removals.size()),
                            shortcuts.data(), static_cast<int>(shortcuts.size()))) {
    kvtool::PrintLine(L"kvrecord: record refused or not written: " + std::wstring(argv[2]));
    return 1;
  }
  return 0;
}

void PrintList(const wchar_t* title, const std::vector<UninstallEntry>& list) {
  kvtool::PrintLine(std::wstring(title) + L" (" + std::to_wstring(list.size()) + L"):");
  for (const UninstallEntry& entry : list)
    kvtool::PrintLine(std::wstring(entry.isFile ? L"  file   " : L"  folder ") +
                      SlotText(entry.path));
}

int Print(const wchar_t* path) {
  kv::UniqueStdioFile file(_wfopen(path, L"rb"));
  if (!file) {
    kvtool::PrintLine(L"kvrecord: cannot open " + std::wstring(path));
    return 1;
  }
  UninstallRecord header = {};
  std::vector<UninstallEntry> removals, shortcuts;
  ReadRecordLists(file.get(), &header, &removals, &shortcuts);
  file.reset();
  const bool folder_mode = header.installDir[0] != L'\0';
  kvtool::PrintLine(L"uninstall key: " + SlotText(header.uninstallKey));
  kvtool::PrintLine(L"display name:  " + SlotText(header.displayName));
  kvtool::PrintLine(L"menu folder:   " + SlotText(header.menuFolder));
  kvtool::PrintLine(L"install dir:   " + SlotText(header.installDir));
  kvtool::PrintLine(std::wstring(L"mode:          ") + (folder_mode ? L"folder" : L"list"));
  if (!folder_mode) PrintList(L"removal list", removals);
  PrintList(L"shortcut list", shortcuts);
  return 0;
}

// The values that put the product into the list of installed programs, with the uninstaller as
// its remover: interactive and, for deployment tools, silent.
int Key(const wchar_t* path, bool write) {
  UninstallRecord header = {};
  wchar_t full[MAX_PATH] = {};
  wchar_t* name = nullptr;
  if (!ReadRecordHeader(path, &header) || !::GetFullPathNameW(path, MAX_PATH, full, &name) ||
      !name || header.uninstallKey[0] == L'\0') {
    kvtool::PrintLine(L"kvrecord: no record with an uninstall key at " + std::wstring(path));
    return 1;
  }
  const std::wstring program = L"\"" + std::wstring(full, name) + L"kvUninstall.exe\"";
  const std::wstring key = std::wstring(kUninstallKeyRoot) + SlotText(header.uninstallKey);
  const std::pair<const wchar_t*, std::wstring> values[] = {
      {L"DisplayName", SlotText(header.displayName)},
      {L"UninstallString", program},
      {L"QuietUninstallString", program + L" /S"}};
  kvtool::PrintLine(L"HKLM\\" + key);
  for (const auto& [value, data] : values) {
    kvtool::PrintLine(std::wstring(value) + L"=" + data);
    if (write && ::RegSetKeyValueW(HKEY_LOCAL_MACHINE, key.c_str(), value, REG_SZ, data.c_str(),
                                   static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t))) !=
                     ERROR_SUCCESS) {
      kvtool::PrintLine(L"kvrecord: cannot write " + std::wstring(value));
      return 1;
    }
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const std::wstring command = argv[1];
  if (command == L"write") return Write(argc, argv);
  if (command == L"print") return Print(argv[2]);
  if (command == L"key") return Key(argv[2], argc > 3 && std::wstring(argv[3]) == L"--write");
  return Usage();
}
