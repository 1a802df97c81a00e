#pragma once
// The uninstall run's account of itself: what it refused, what it could not delete and what it
// left to the next restart, one line each, into the toolkit's log.
#include <string>

#include "uninstall/deletion_guard.h"

namespace kv::runlog {

void Note(const std::wstring& line);
// "refused <what> <path>: <reason>"; an empty path is an empty slot, not worth a line.
void NoteRefusal(const wchar_t* what, const std::wstring& path, guard::Refusal refusal);

}  // namespace kv::runlog
