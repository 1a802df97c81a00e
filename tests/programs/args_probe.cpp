// Stands in for a program the toolkit starts (a browser, a handler): waits half a second, then
// writes the command line it was given, UTF-8, to args.txt beside itself.
#include <windows.h>

#include <fstream>
#include <string>

#include "util/files.h"

int wmain() {
  ::Sleep(500);
  wchar_t dir[MAX_PATH] = {};
  GetCurPath(dir);
  const wchar_t* line = ::GetCommandLineW();
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
  std::string text(static_cast<size_t>(bytes > 0 ? bytes : 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), bytes, nullptr, nullptr);
  text.resize(text.size() - 1);
  std::ofstream((std::wstring(dir) + L"args.txt").c_str(), std::ios::binary) << text;
  return 0;
}
