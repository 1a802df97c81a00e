#pragma once
// The uninstall run's account of itself, one line each: the record as read, what was swept,
// refused, left or queued for the next restart, the key and links removed, the exit code. The
// lines go to the toolkit's log (when it is on) and, when the caller asked for one, to a UTF-8
// text file of its own.
#include <string>

#include "uninstall/deletion_guard.h"

namespace kv::runlog {

// Appends the run's lines to path from now on, creating it if needed. False (and no file) when
// path cannot be opened for appending or is a link: a log is never written through a link.
bool OpenFile(const std::wstring& path);

void Note(const std::wstring& line);
// "refused <what> <path>: <reason>"; an empty path is an empty slot, not worth a line.
void NoteRefusal(const wchar_t* what, const std::wstring& path, guard::Refusal refusal);
// "<what> <path>", and with an error ": <the system's words for it> (<error>)".
void Note(const wchar_t* what, const std::wstring& path, unsigned long error = 0);

}  // namespace kv::runlog
