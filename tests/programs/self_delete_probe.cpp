// Stands in for kvUninstall.exe in an installed folder: runs the engine over its own folder in
// this thread, then calls DeleteSelf, which must end the process (exit code 0, or 3010 when the
// restart completes the removal).
//   self_delete_probe [--skip-run] [--marker PATH] [--sleep MS]
// --marker names a file an exit handler would write: DeleteSelf must end the process without
// running any. Exit code 3 means DeleteSelf returned. --sleep only waits and ends with 0: another
// program of the same name, which no clean-up of ours may end.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "uninstall/uninstaller.h"

namespace {

std::wstring g_marker;

void WriteMarker() {
  if (g_marker.empty()) return;
  if (FILE* f = _wfopen(g_marker.c_str(), L"w")) {
    std::fputs("exit handler ran\n", f);
    std::fclose(f);
  }
}

struct MarkerOnDestruction {
  ~MarkerOnDestruction() { WriteMarker(); }
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  bool run = true;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--skip-run") run = false;
    else if (arg == L"--marker" && i + 1 < argc) g_marker = argv[++i];
    else if (arg == L"--sleep" && i + 1 < argc) {
      ::Sleep(static_cast<DWORD>(_wtoi(argv[++i])));
      return 0;
    }
  }
  static MarkerOnDestruction on_destruction;
  std::atexit(WriteMarker);

  CKvUninstaller engine;
  // No window: the engine's progress messages go nowhere, as for a dialog that has gone.
  if (run) engine.StartUninstall(nullptr, 0);
  engine.DeleteSelf();
  return 3;
}
