#include "uninstall/folder_sweep.h"

#include "uninstall/deletion_guard.h"
#include "util/handles.h"

namespace kv::sweep {
namespace {

bool IsDirectory(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
bool IsLink(DWORD attributes) { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

// "." and "..", and every folder whose name starts with a full stop.
bool IsDotName(const wchar_t* name) { return name[0] == L'.'; }
bool IsSelfOrParent(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

const FindMode& RunningFindMode() {
  static const FindMode mode = [] {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    if (!::GetVersionExW(&version)) return FindModeFor(0, 0);
    return FindModeFor(version.dwMajorVersion, version.dwMinorVersion);
  }();
  return mode;
}

kv::UniqueFind FindFirst(const std::wstring& dir, WIN32_FIND_DATAW* data) {
  const FindMode& mode = RunningFindMode();
  return kv::UniqueFind(::FindFirstFileExW((dir + L"*.*").c_str(), mode.level, data,
                                           FindExSearchNameMatch, nullptr, mode.flags));
}

// A folder of the walk, held open for as long as it is walked. The handle is opened on the entry
// itself, not on what a link would lead to, and shares neither deletion nor renaming: while it is
// held the folder cannot be renamed or replaced, so the path that names it keeps naming it.
class PinnedFolder {
 public:
  // dir: the final path the folder must have, with a trailing backslash.
  explicit PinnedFolder(const std::wstring& dir)
      // Listing access makes the sharing rules apply: a handle with attribute access alone
      // would not stop a rename.
      : handle_(::CreateFileW(dir.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr)) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!handle_ || !::GetFileInformationByHandle(handle_.get(), &info) ||
        !IsDirectory(info.dwFileAttributes) || IsLink(info.dwFileAttributes)) {
      handle_.reset();
      return;
    }
    // Where the handle cannot show a link as a link, its final path still shows where it led.
    // Without the lookup (before Vista) the attribute check above is all there is.
    const std::wstring final_path = guard::FinalPathOf(handle_.get());
    const std::wstring expected = dir.substr(0, dir.size() - 1);
    if (!final_path.empty() && !guard::SamePath(final_path, expected)) handle_.reset();
  }
  explicit operator bool() const { return static_cast<bool>(handle_); }
  void Release() { handle_.reset(); }

 private:
  kv::UniqueFile handle_;
};

}  // namespace

FindMode FindModeFor(DWORD major, DWORD minor) {
  const bool windows7_on = major > 6 || (major == 6 && minor >= 1);
  if (windows7_on) return {FindExInfoBasic, FIND_FIRST_EX_LARGE_FETCH};
  return {FindExInfoStandard, 0};
}

bool QueueForRestart(const std::wstring& path) {
  return ::MoveFileExW(path.c_str(), nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != FALSE;
}

FileOutcome DeleteProductFile(const std::wstring& path, DWORD attributes, const Note& note) {
  if (::DeleteFileW(path.c_str())) return FileOutcome::kDeleted;
  DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return FileOutcome::kDeleted;
  // A link's own mark is left alone: clearing it could reach the link's target.
  if (error == ERROR_ACCESS_DENIED && (attributes & FILE_ATTRIBUTE_READONLY) &&
      !IsLink(attributes) &&
      ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    if (::DeleteFileW(path.c_str())) return FileOutcome::kDeleted;
    error = ::GetLastError();
  }
  const bool queued = QueueForRestart(path);
  if (note) note(queued ? L"not deleted, queued for restart:" : L"not deleted:", path, error);
  return queued ? FileOutcome::kQueued : FileOutcome::kLeft;
}

FolderSweep::FolderSweep(std::vector<std::wstring> deferred, std::function<void()> on_file,
                         Note note)
    : deferred_(std::move(deferred)), on_file_(std::move(on_file)), note_(std::move(note)) {}

bool FolderSweep::Sweep(const std::wstring& root, bool enter_dot_folders) {
  enter_dot_folders_ = enter_dot_folders;
  return Walk(root);
}

bool FolderSweep::IsDeferred(const std::wstring& dir, const wchar_t* name) const {
  const size_t length = std::char_traits<wchar_t>::length(name);
  for (const std::wstring& path : deferred_)
    if (path.size() == dir.size() + length && guard::SamePath(path, dir + name)) return true;
  return false;
}

bool FolderSweep::Walk(const std::wstring& dir) {
  PinnedFolder pin(dir);
  if (!pin) {
    if (note_) note_(L"not entered (a link, or no longer the folder it was):", dir, 0);
    return false;
  }
  WIN32_FIND_DATAW data;
  kv::UniqueFind find = FindFirst(dir, &data);
  if (!find) return false;
  const int queued_before = queued_;
  do {
    const DWORD attributes = data.dwFileAttributes;
    if (!IsDirectory(attributes)) {
      if (!IsDeferred(dir, data.cFileName) &&
          DeleteProductFile(dir + data.cFileName, attributes, note_) == FileOutcome::kQueued)
        ++queued_;
      if (on_file_) on_file_();
    } else if (IsSelfOrParent(data.cFileName) ||
               (IsDotName(data.cFileName) && !enter_dot_folders_)) {
      continue;
    } else if (IsLink(attributes)) {
      // A link goes as a link; its target is never entered.
      const std::wstring path = dir + data.cFileName;
      if (!::RemoveDirectoryW(path.c_str()) && !::DeleteFileW(path.c_str()) && note_)
        note_(L"link left:", path, ::GetLastError());
    } else {
      Walk(dir + data.cFileName + L"\\");
    }
  } while (::FindNextFileW(find.get(), &data));
  find.reset();
  pin.Release();
  // Something inside waits for the restart: the folder follows it then.
  if (!::RemoveDirectoryW(dir.c_str()) && queued_ > queued_before &&
      QueueForRestart(dir.substr(0, dir.size() - 1)))
    ++queued_;
  return true;
}

int FolderSweep::Count(const std::wstring& root) {
  WIN32_FIND_DATAW data;
  kv::UniqueFind find = FindFirst(root, &data);
  if (!find) return 0;
  int count = 0;
  do {
    if (!IsDirectory(data.dwFileAttributes))
      ++count;
    else if (!IsDotName(data.cFileName) && !IsLink(data.dwFileAttributes))
      count += Count(root + data.cFileName + L"\\");
  } while (::FindNextFileW(find.get(), &data));
  return count;
}

}  // namespace kv::sweep
