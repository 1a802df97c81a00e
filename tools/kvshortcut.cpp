// Makes shell links with the toolkit's CreateShortcut and prints the shell folders installers
// put them in; the demo's installation uses it.
//
//   kvshortcut folder programs|startmenu|desktop|userdesktop|quicklaunch
//   kvshortcut create FOLDER NAME TARGET [DESCRIPTION]
//   kvshortcut target LINK
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "tools/console.h"
#include "util/handles.h"
#include "util/shell.h"

namespace {

int Usage() {
  kvtool::PrintLine(
      L"usage: kvshortcut folder programs|startmenu|desktop|userdesktop|quicklaunch\n"
      L"       kvshortcut create FOLDER NAME TARGET [DESCRIPTION]\n"
      L"       kvshortcut target LINK");
  return 2;
}

int PrintFolder(const std::wstring& which) {
  wchar_t path[MAX_PATH] = {};
  int ok = 0;
  if (which == L"programs")
    ok = GetProgramsPath(path);
  else if (which == L"startmenu")
    ok = GetStartMenuPath(path);
  else if (which == L"desktop")
    ok = GetDesktopPath(path);
  else if (which == L"quicklaunch")
    ok = GetQuickLaunchPath(path, 0);
  else if (which == L"userdesktop")
    ok = ::SHGetSpecialFolderPathW(nullptr, path, CSIDL_DESKTOPDIRECTORY, TRUE);
  else
    return Usage();
  if (!ok) return 1;
  kvtool::PrintLine(path);
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return Usage();
  const std::wstring command = argv[1];
  if (command == L"folder") return PrintFolder(argv[2]);
  kv::ComInit com;
  if (command == L"create" && argc >= 5) {
    CreateDirTree((std::wstring(argv[2]) + L"\\").c_str());
    const int ok = CreateShortcut(argv[2], argv[3], argv[4], nullptr, 0,
                                  argc > 5 ? argv[5] : nullptr, SW_SHOWNORMAL);
    if (!ok) kvtool::PrintLine(L"kvshortcut: cannot create the link");
    return ok ? 0 : 1;
  }
  if (command == L"target") {
    wchar_t target[MAX_PATH] = {};
    if (FAILED(LnkToRealPath(argv[2], target))) return 1;
    kvtool::PrintLine(target);
    return 0;
  }
  return Usage();
}
