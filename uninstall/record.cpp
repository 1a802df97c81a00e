#include "uninstall/record.h"

#include <cstring>

#include "util/handles.h"

namespace {

template <size_t N>
bool Terminated(const wchar_t (&slot)[N]) {
  return SlotText(slot).size() < N;
}

bool ValidEntry(const UninstallEntry& entry, bool removal) {
  if (!Terminated(entry.path)) return false;
  if (!removal || entry.isFile) return true;
  const std::wstring path = SlotText(entry.path);
  return !path.empty() && path.back() == L'\\';
}

}  // namespace

bool ReadRecordHeader(const std::wstring& path, UninstallRecord* header) {
  std::memset(header, 0, sizeof(*header));
  kv::UniqueStdioFile file(_wfopen(path.c_str(), L"rb"));
  if (!file) return false;
  std::fread(header, sizeof(*header), 1, file.get());
  return true;
}

void ReadRecordLists(FILE* file, UninstallRecord* header, std::vector<UninstallEntry>* removals,
                     std::vector<UninstallEntry>* shortcuts) {
  std::fread(header, sizeof(*header), 1, file);

  removals->clear();
  if (header->installDir[0] == L'\0') {
    int count = 0;
    std::fread(&count, sizeof(count), 1, file);
    for (int i = 0; i < count; ++i) {
      UninstallEntry entry = {};
      // A count larger than what follows ends here instead of reading on past the end.
      if (std::fread(&entry, 1, sizeof(entry), file) == 0) break;
      if (entry.path[0] != L'\0') removals->push_back(entry);
    }
  }

  int count = 0;
  if (!std::feof(file)) std::fread(&count, sizeof(count), 1, file);
  shortcuts->clear();
  // The end-of-file flag rises only after a read ran into the end, so a count that promises more
  // than follows leaves one last, empty entry (deleting it fails harmlessly).
  for (int read = 0; !std::feof(file) && read < count; ++read) {
    UninstallEntry entry = {};
    std::fread(&entry, 1, sizeof(entry), file);
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
  if (folder_mode && removalCount > 0) return 0;
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
  // fclose flushes: a full disk shows up there, not in fwrite.
  return (std::fclose(file.release()) == 0 && written) ? 1 : 0;
}
