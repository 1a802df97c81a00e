#pragma once
// UTF-8 output for the console tools, whether stdout is a console, a pipe or a file.
#include <windows.h>

#include <cstdio>
#include <string>

namespace kvtool {

inline void Print(const std::wstring& text) {
  const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), utf8.data(), size,
                        nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fflush(stdout);
}

inline void PrintLine(const std::wstring& text) { Print(text + L"\n"); }

}  // namespace kvtool
