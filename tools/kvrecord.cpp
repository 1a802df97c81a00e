// Writes a kvUninstall.dat from options, or prints one in readable form.
//
//   kvrecord write FILE [--key K] [--name N] [--menu M] [--dir D]
//                       [--file PATH]... [--folder PATH]... [--shortcut PATH]...
//   kvrecord print FILE
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/console.h"
#include "uninstall/deletion_guard.h"
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
      L"       kvrecord print FILE");
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
    if (option == L"--key") fits = Fill(header.uninstallKey, value);
    else if (option == L"--name") fits = Fill(header.displayName, value);
    else if (option == L"--menu") fits = Fill(header.menuFolder, value);
    else if (option == L"--dir") fits = Fill(header.installDir, value);
    else if (option == L"--file") fits = MakeEntry(1, value, &removals);
    else if (option == L"--folder") fits = MakeEntry(0, value, &removals);
    else if (option == L"--shortcut") fits = MakeEntry(1, value, &shortcuts);
    else return Usage();
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
        kvtool::PrintLine(L"kvrecord: refused " + path + L": " + kv::guard::RefusalText(verdict.refusal));
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
    kvtool::PrintLine(std::wstring(entry.isFile ? L"  file   " : L"  folder ") + SlotText(entry.path));
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

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const std::wstring command = argv[1];
  if (command == L"write") return Write(argc, argv);
  if (command == L"print") return Print(argv[2]);
  return Usage();
}
