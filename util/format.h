#pragma once
// Fills printf-style text templates whose only conversions are "%s" and "%%", without the C
// runtime's printf family: MinGW's C99 printf reads a wide "%s" as a narrow string.
#include <initializer_list>
#include <string>

namespace kv {

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
