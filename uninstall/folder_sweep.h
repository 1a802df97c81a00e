#pragma once
// The folder walk of the uninstall. It works only on a root the deletion guard has passed, and
// never leaves it: no link is ever entered, and every folder is checked through a handle opened
// on the folder itself and held while it is walked, so that it cannot be swapped for a link or
// renamed between the listing and the entering. What cannot be deleted now is queued for deletion
// at the next restart instead of being left behind.
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace kv::sweep {

// How the walk lists a folder: the lean, batched form exists only from Windows 7 on.
struct FindMode {
  FINDEX_INFO_LEVELS level;
  DWORD flags;
};
FindMode FindModeFor(DWORD major, DWORD minor);

enum class FileOutcome { kDeleted, kQueued, kLeft };

// A line for the run's log: what happened to path, with the system's error where there is one.
using Note =
    std::function<void(const wchar_t* what, const std::wstring& path, unsigned long error)>;

// Deletes one of the product's files: a read-only mark is cleared first where that is what
// stops it, and a file in use is queued for deletion at restart (and noted, with the system's
// error). A file already gone counts as deleted. attributes: the file's own directory entry (a
// link is deleted as a link).
FileOutcome DeleteProductFile(const std::wstring& path, DWORD attributes, const Note& note);

// Asks the system to delete path at the next restart (a folder only goes if empty by then).
bool QueueForRestart(const std::wstring& path);

class FolderSweep {
 public:
  // deferred: full final paths of files the walk counts as handled but leaves where they are
  // (the running program, and the record while the run still needs it). on_file runs after each
  // file the walk handled, deleted or not.
  FolderSweep(std::vector<std::wstring> deferred, std::function<void()> on_file, Note note);

  // Deletes the tree below root, a final path from the guard ending with a backslash, and root
  // itself. Folders whose names begin with a full stop are left alone unless enter_dot_folders.
  // False when root cannot be entered as a real folder.
  bool Sweep(const std::wstring& root, bool enter_dot_folders = false);

  // Files in the tree below root, counted the way Sweep walks it.
  static int Count(const std::wstring& root);

  int queued() const { return queued_; }

 private:
  bool Walk(const std::wstring& dir);
  bool IsDeferred(const std::wstring& dir, const wchar_t* name) const;

  std::vector<std::wstring> deferred_;
  std::function<void()> on_file_;
  Note note_;
  bool enter_dot_folders_ = false;
  int queued_ = 0;
};

}  // namespace kv::sweep
