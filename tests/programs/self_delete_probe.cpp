// Stands in for kvUninstall.exe in an installed folder: runs the engine over its own folder in
// this thread, then calls DeleteSelf, which must end the process with exit code 0.
//   self_delete_probe [--skip-run] [--marker PATH]
// --marker names a file an exit handler would write: DeleteSelf must end the process without
// running any. Exit code 3 means DeleteSelf returned (no script could be created).
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
  }
  static MarkerOnDestruction on_destruction;
  std::atexit(WriteMarker);

  CKvUninstaller engine;
  // No window: the engine's progress messages go nowhere, as for a dialog that has gone.
  if (run) engine.StartUninstall(nullptr, 0);
  engine.DeleteSelf();
  return 3;
}
