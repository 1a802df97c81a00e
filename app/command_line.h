#pragma once
// The uninstaller's switches. Without any it asks in its window, as it always did.
//   /S, /SILENT, /VERYSILENT   no window, no question, no message box (any case)
//   /LOG=<path>                a UTF-8 account of the run, appended to path
#include <string>

namespace kv::app {

struct Switches {
  bool silent = false;
  std::wstring log;
  std::wstring unknown;  // the first argument that is no switch of ours; empty when all are
};

// The switches of a whole command line (the program's name first, as GetCommandLineW gives it).
Switches ParseSwitches(const wchar_t* command_line);

}  // namespace kv::app
