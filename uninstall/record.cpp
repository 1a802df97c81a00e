#include "uninstall/record.h"

#include <cstddef>
#include <cstring>

#include "uninstall/deletion_guard.h"
#include "util/files.h"
#include "util/handles.h"

namespace {

template <size_t N>
bool Terminated(const wchar_t (&slot)[N]) {
  return SlotText(slot).size() < N;
}

bool ValidEntry(const UninstallEntry& entry, bool removal) {
  if (!Terminated(entry.path)) return false;
  const std::wstring path = SlotText(entry.path);
  // An empty file entry names nothing and deletes nothing; the reader skips or ignores it.
  if (!removal || entry.isFile) return path.empty() || kv::guard::CheckPlannedFile(path);
  return !path.empty() && path.back() == L'\\' && kv::guard::CheckPlannedFolder(path);
}

// A menu folder is one or more plain names below the user's Programs folder.
bool ValidMenuFolder(const std::wstring& menu) {
  size_t start = 0;
  while (start < menu.size()) {
    size_t end = menu.find(L'\\', start);
    if (end == std::wstring::npos) end = menu.size();
    if (!kv::guard::IsPlainName(menu.substr(start, end - start))) return false;
    start = end + 1;
  }
  return true;
}

// Folder mode sweeps the folder the record lies in: it must be one a product may own.
bool ValidFolderMode(LPCWSTR path, const UninstallRecord& header) {
  wchar_t full[MAX_PATH * 2] = {};
  wchar_t* name = nullptr;
  const DWORD length = ::GetFullPathNameW(path, MAX_PATH * 2, full, &name);
  if (length == 0 || length >= MAX_PATH * 2 || !name) return false;
  const std::wstring own_folder(full, static_cast<size_t>(name - full));
  return kv::guard::CheckPlannedFolder(own_folder) &&
         kv::guard::CheckPlannedFolder(SlotText(header.installDir));
}

// A slot the file ends inside, before its terminator, holds the start of a longer text: a prefix
// of a name or a path, which must never be taken for the whole. It reads as empty.
template <size_t N>
void DropIfCut(wchar_t (&slot)[N], size_t slot_offset, size_t bytes_read) {
  const size_t text_end = slot_offset + (SlotText(slot).size() + 1) * sizeof(wchar_t);
  if (bytes_read < slot_offset + sizeof(slot) && text_end > bytes_read)
    std::memset(slot, 0, sizeof(slot));
}

}  // namespace

void DropCutSlots(UninstallRecord* header, size_t bytes_read) {
  DropIfCut(header->uninstallKey, offsetof(UninstallRecord, uninstallKey), bytes_read);
  DropIfCut(header->displayName, offsetof(UninstallRecord, displayName), bytes_read);
  DropIfCut(header->menuFolder, offsetof(UninstallRecord, menuFolder), bytes_read);
  DropIfCut(header->installDir, offsetof(UninstallRecord, installDir), bytes_read);
}

bool ReadRecordHeader(const std::wstring& path, UninstallRecord* header) {
  std::memset(header, 0, sizeof(*header));
  kv::UniqueStdioFile file(_wfopen(path.c_str(), L"rb"));
  if (!file) return false;
  DropCutSlots(header, std::fread(header, 1, sizeof(*header), file.get()));
  return true;
}

void ReadRecordLists(FILE* file, UninstallRecord* header, std::vector<UninstallEntry>* removals,
                     std::vector<UninstallEntry>* shortcuts) {
  std::memset(header, 0, sizeof(*header));
  DropCutSlots(header, std::fread(header, 1, sizeof(*header), file));

  // Only whole values count: a count or an entry the file ends inside is dropped, since its
  // path would be a prefix of the intended one, such as the product folder's parent.
  auto read_count = [file] {
    int count = 0;
    return std::fread(&count, sizeof(count), 1, file) == 1 ? count : 0;
  };
  removals->clear();
  if (header->installDir[0] == L'\0') {
    const int count = read_count();
    for (int i = 0; i < count; ++i) {
      UninstallEntry entry = {};
      // A count larger than what follows ends here instead of reading on past the end.
      if (std::fread(&entry, 1, sizeof(entry), file) != sizeof(entry)) break;
      if (entry.path[0] != L'\0') removals->push_back(entry);
    }
  }

  const int count = std::feof(file) ? 0 : read_count();
  shortcuts->clear();
  // The end-of-file flag rises only after a read ran into the end, so a count that promises more
  // than follows leaves one last, empty entry (it names nothing and is never deleted).
  for (int read = 0; !std::feof(file) && read < count; ++read) {
    UninstallEntry entry = {};
    const size_t got = std::fread(&entry, 1, sizeof(entry), file);
    if (got != 0 && got != sizeof(entry)) break;
    shortcuts->push_back(entry);
  }
}

int WriteUninstallRecord(LPCWSTR path, const UninstallRecord* header,
                         const UninstallEntry* removals, int removalCount,
                         const UninstallEntry* shortcuts, int shortcutCount) {
  if (!path || !header || removalCount < 0 || shortcutCount < 0) return 0;
  if ((removalCount && !removals) || (shortcutCount && !shortcuts)) return 0;
  if (!Terminated(header->uninstallKey) || !Terminated(header->displayName) ||
      !Terminated(header->menuFolder) || !Terminated(header->installDir))
    return 0;
  const bool folder_mode = header->installDir[0] != L'\0';
  if (folder_mode && (removalCount > 0 || !ValidFolderMode(path, *header))) return 0;
  if (!ValidMenuFolder(SlotText(header->menuFolder))) return 0;
  for (int i = 0; i < removalCount; ++i)
    if (!ValidEntry(removals[i], true)) return 0;
  for (int i = 0; i < shortcutCount; ++i)
    if (!ValidEntry(shortcuts[i], false)) return 0;

  // The bytes after each terminator are zero on disk, whatever the caller's buffers held there.
  UninstallRecord clean = {};
  auto copy_slot = [](auto& to, const auto& from) {
    const std::wstring text = SlotText(from);
    std::memcpy(to, text.data(), text.size() * sizeof(wchar_t));
  };
  copy_slot(clean.uninstallKey, header->uninstallKey);
  copy_slot(clean.displayName, header->displayName);
  copy_slot(clean.menuFolder, header->menuFolder);
  copy_slot(clean.installDir, header->installDir);
  auto clean_entry = [&](const UninstallEntry& from) {
    UninstallEntry to = {};
    to.isFile = from.isFile;
    copy_slot(to.path, from.path);
    return to;
  };

  std::vector<unsigned char> bytes;
  auto put = [&bytes](const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    bytes.insert(bytes.end(), p, p + size);
  };
  put(&clean, sizeof(clean));
  if (!folder_mode) {
    put(&removalCount, sizeof(removalCount));
    for (int i = 0; i < removalCount; ++i) {
      const UninstallEntry entry = clean_entry(removals[i]);
      put(&entry, sizeof(entry));
    }
  }
  put(&shortcutCount, sizeof(shortcutCount));
  for (int i = 0; i < shortcutCount; ++i) {
    const UninstallEntry entry = clean_entry(shortcuts[i]);
    put(&entry, sizeof(entry));
  }

  kv::UniqueStdioFile file(_wfopen(path, L"wb"));
  if (!file) return 0;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file.get()) == bytes.size();
  // The close flushes: a full disk shows up there, not in fwrite.
  return (kv::CloseWritten(file) && written) ? 1 : 0;
}
