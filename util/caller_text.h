#pragma once
// Texts handed out through buffers that belong to the caller. The exported functions take no
// size: each promises its callers a fixed room, and writes no more than that.
#include <windows.h>

#include <cwchar>
#include <string_view>

namespace kv {

// The room of every path buffer a caller hands in: the system's path limit.
constexpr size_t kPathRoom = MAX_PATH;

// Copies text and its terminator into out, which holds room characters. A text that does not fit
// leaves an empty buffer and gives false: a path cut short would name another file.
inline bool CopyToCaller(std::wstring_view text, wchar_t* out, size_t room) {
  if (!out || room == 0) return false;
  if (text.size() >= room) {
    out[0] = L'\0';
    return false;
  }
  std::wmemcpy(out, text.data(), text.size());
  out[text.size()] = L'\0';
  return true;
}

// Copies text into a fixed field of a record, cut to fit; the rest of the field, and all of it for
// a null text, is zeros.
template <size_t N>
void CopyToField(wchar_t (&field)[N], const wchar_t* text) {
  std::wmemset(field, L'\0', N);
  if (text) std::wcsncpy(field, text, N - 1);
}

}  // namespace kv
