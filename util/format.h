#pragma once
// The two ways text is formatted here. FormatText fills templates whose only conversions are "%s"
// and "%%", of any length. FormatBounded is printf with a room: it uses the C runtime's own
// flavour, where a wide "%s" takes wide text as every format here expects (MinGW's C99 printf
// would read it as a narrow string).
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <initializer_list>
#include <string>

namespace kv {

// At most room - 1 characters (room >= 1), cut to fit.
inline std::wstring FormatBoundedV(size_t room, const wchar_t* format, va_list args) {
  std::wstring text(room, L'\0');
  // On a cut the result is -1 and nothing is terminated: the last unit stays the terminator.
  _vsnwprintf(text.data(), room - 1, format, args);
  text.resize(std::wcslen(text.c_str()));
  return text;
}

inline std::wstring FormatBounded(size_t room, const wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = FormatBoundedV(room, format, args);
  va_end(args);
  return text;
}

inline std::wstring FormatText(const wchar_t* format, std::initializer_list<std::wstring> args) {
  std::wstring out;
  auto arg = args.begin();
  for (const wchar_t* p = format; *p; ++p) {
    if (p[0] == L'%' && p[1] == L'%') {
      out += L'%';
      ++p;
    } else if (p[0] == L'%' && p[1] == L's') {
      if (arg != args.end()) out += *arg++;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

}  // namespace kv
