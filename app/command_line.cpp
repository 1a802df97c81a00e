#include "app/command_line.h"

#include <windows.h>
#include <shellapi.h>

#include "util/handles.h"

namespace kv::app {

Switches ParseSwitches(const wchar_t* command_line) {
  Switches switches;
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(command_line, &count);
  kv::UniqueLocal owned(args);
  if (!args) return switches;
  for (int i = 1; i < count && switches.unknown.empty(); ++i) {
    const std::wstring arg = args[i];
    auto is = [&arg](const wchar_t* name) {
      return ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, arg.c_str(), -1, name, -1) ==
             CSTR_EQUAL;
    };
    const bool log = arg.size() > 5 && ::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE,
                                                        arg.c_str(), 5, L"/LOG=", 5) == CSTR_EQUAL;
    if (is(L"/S") || is(L"/SILENT") || is(L"/VERYSILENT"))
      switches.silent = true;
    else if (log)
      switches.log = arg.substr(5);
    else
      switches.unknown = arg;
  }
  return switches;
}

}  // namespace kv::app
