#pragma once
// Transitional, and only for the sources the build names beside it: the spelling with a trailing
// room argument that a few callers still use. Each honours that room and forwards to the exported
// function, whose parameter list is the one other programs bind. Goes with its last caller.
//
// Declared in an unnamed namespace so that, inside a caller's own unnamed namespace, the name
// means this form alone (a template deducing a function pointer from it needs exactly one).
#include <windows.h>

#include <cwchar>

#include "util/caller_text.h"
#include "util/files.h"
#include "util/identity.h"
#include "util/shell.h"

namespace {

// A buffer of the documented room, whose text goes on to a caller's buffer of room characters
// when it fits there (else that buffer is left empty).
template <size_t Documented>
struct Staged {
  wchar_t text[Documented] = {};
  bool To(LPWSTR out, int room) const {
    return kv::CopyToCaller(text, out, room > 0 ? static_cast<size_t>(room) : 0);
  }
};

[[maybe_unused]] inline void GetCurPath(LPWSTR path, int room) {
  Staged<kv::kPathRoom> staged;
  ::GetCurPath(staged.text);
  staged.To(path, room);
}

[[maybe_unused]] inline int GetProgramsPath(LPWSTR path, int room) {
  Staged<kv::kPathRoom> staged;
  const int found = ::GetProgramsPath(staged.text);
  return staged.To(path, room) ? found : 0;
}

[[maybe_unused]] inline int GetStartMenuPath(LPWSTR path, int room) {
  Staged<kv::kPathRoom> staged;
  const int found = ::GetStartMenuPath(staged.text);
  return staged.To(path, room) ? found : 0;
}

[[maybe_unused]] inline int GetDesktopPath(LPWSTR path, int room) {
  Staged<kv::kPathRoom> staged;
  const int found = ::GetDesktopPath(staged.text);
  return staged.To(path, room) ? found : 0;
}

[[maybe_unused]] inline void CreateUID(LPWSTR out, int persist, int room) {
  Staged<kUidRoom> staged;
  ::CreateUID(staged.text, persist);
  staged.To(out, room);
}

// In place: the text stays as it was unless its encoded form fits room.
[[maybe_unused]] inline int URLEncode(LPWSTR text, int room) {
  Staged<kUrlEncodeLimit> staged;
  if (!text || !kv::CopyToCaller(text, staged.text, kUrlEncodeLimit) || !::URLEncode(staged.text))
    return 0;
  if (std::wcslen(staged.text) >= static_cast<size_t>(room > 0 ? room : 0)) return 0;
  return staged.To(text, room) ? 1 : 0;
}

}  // namespace
