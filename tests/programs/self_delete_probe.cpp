// Stands in for kvUninstall.exe in an installed folder: runs the engine over its own folder in
// this thread, then calls DeleteSelf, which must end the process (exit code 0, or 3010 when the
// restart completes the removal).
//   self_delete_probe [--skip-run] [--marker PATH]
//   self_delete_probe [--hold PATH] --sleep MS
//   self_delete_probe [--restricted] --load NAME
// --marker names a file an exit handler would write: DeleteSelf must end the process without
// running any. Exit code 3 means DeleteSelf returned. --sleep only waits and ends with 0: another
// program of the same name, which no clean-up of ours may end; with --hold it keeps PATH open
// (no deletion shared) meanwhile, and says "held" once it does. --load loads the library NAME as
// the program would, after restricting the search as the uninstaller does at start with
// --restricted: exit code 0 when it loaded, 5 when not.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "uninstall/uninstaller.h"
#include "util/handles.h"
#include "util/system.h"

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
  int sleep_ms = -1;
  std::wstring held;
  for (int i = 1; i < argc; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--skip-run") run = false;
    else if (arg == L"--marker" && i + 1 < argc) g_marker = argv[++i];
    else if (arg == L"--hold" && i + 1 < argc) held = argv[++i];
    else if (arg == L"--sleep" && i + 1 < argc) sleep_ms = _wtoi(argv[++i]);
    else if (arg == L"--restricted") kv::RestrictLibrarySearch();
    else if (arg == L"--load" && i + 1 < argc) return kv::UniqueModule(::LoadLibraryW(argv[++i])) ? 0 : 5;
  }
  if (sleep_ms >= 0) {
    kv::UniqueFile file;
    if (!held.empty()) {
      file.reset(::CreateFileW(held.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               0, nullptr));
      if (!file) return 4;
      std::puts("held");
      std::fflush(stdout);
    }
    ::Sleep(static_cast<DWORD>(sleep_ms));
    return 0;
  }
  static MarkerOnDestruction on_destruction;
  std::atexit(WriteMarker);

  CKvUninstaller engine;
  // No window: the engine's progress messages go nowhere, as for a dialog that has gone.
  if (run) engine.StartUninstall(nullptr, 0);
  engine.DeleteSelf();
  return 3;
}
