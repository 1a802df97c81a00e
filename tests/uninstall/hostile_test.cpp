// Records and installations made to reach outside the product, against the real engine
// (kvUninstallCli) and the real clean-up script (the probe, installed as kvUninstall.exe). Every
// row plants canaries outside the product, and every row ends with each canary in place and
// unchanged, and with the product's own files gone where the row says so.
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <userenv.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "tests/support/install_support.h"
#include "uninstall/deletion_guard.h"
#include "uninstall/folder_sweep.h"
#include "uninstall/uninstaller.h"
#include "util/handles.h"

namespace {

using kvtest::Entry;
using kvtest::Exists;
using kvtest::Put;

constexpr wchar_t kCli[] = L"kvUninstallCli.exe";
constexpr wchar_t kProbe[] = L"self_delete_probe.exe";
constexpr wchar_t kProgram[] = L"kvUninstall.exe";
constexpr wchar_t kRecord[] = L"kvUninstall.dat";
constexpr wchar_t kScript[] = L"c:\\clear.bat";

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)));
  return std::wstring(path) + L"\\";
}

std::wstring Variable(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  const DWORD length = ::GetEnvironmentVariableW(name, value, MAX_PATH);
  return (length && length < MAX_PATH) ? std::wstring(value) + L"\\" : L"";
}

// A folder of the prefix that is itself on drive C and no link: where a row may plant files.
bool PlainFolder(const std::wstring& folder) {
  const DWORD attributes = ::GetFileAttributesW(folder.c_str());
  return folder.size() > 3 && (folder[0] == L'C' || folder[0] == L'c') &&
         attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
         !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool WaitUntil(const std::function<bool()>& done, DWORD ms = 30000) {
  for (const DWORD start = ::GetTickCount(); !done(); ::Sleep(100))
    if (::GetTickCount() - start > ms) return false;
  return true;
}

struct Scene {
  std::wstring root;     // the row's own folder below C:\kvtest\hostile\ (trailing backslash)
  std::wstring install;  // where the program and its record lie
  std::wstring launch;   // the program's path as started; empty: in install
  UninstallRecord header = {};
  std::vector<UninstallEntry> removals, shortcuts;
  size_t cut = std::string::npos;  // the record ends after this many bytes
  std::wstring cwd, options;
  DWORD exit_code = 0;
  std::vector<std::pair<std::wstring, std::string>> canaries;
  std::vector<std::wstring> gone, cleanup, links;
  std::vector<kv::UniqueFile> held;
  bool program_stays = false;  // the script cannot run: the restart takes the program
  std::function<void(const std::vector<std::string>&)> output;
  std::function<void()> after;

  std::wstring Canary(const std::wstring& path) {
    const std::string text = "canary " + kvtest::Utf8(path);
    kvtest::WriteText(path, text);
    canaries.emplace_back(path, text);
    cleanup.push_back(path);
    return path;
  }
  std::wstring Product(const std::wstring& path) {
    kvtest::WriteText(path, "product file");
    gone.push_back(path);
    return path;
  }
  // The program and its record lie in folder; outside the row's folder they are removed after it.
  void InstallAt(const std::wstring& folder) {
    install = folder;
    ::CreateDirectoryW(folder.c_str(), nullptr);
    cleanup.push_back(folder + kProgram);
    cleanup.push_back(folder + kCli);
    cleanup.push_back(folder + kRecord);
  }
  bool Link(const std::wstring& link, const std::wstring& target) {
    links.push_back(link);
    return kvtest::MakeFolderLink(link, target);
  }
  void FolderMode() { Put(header.installDir, install); }
};

enum class Runner { kEngine, kScript };

struct Row {
  const char* name;
  Runner runner;
  // Plants the footprint; false when this platform cannot make what the row needs.
  std::function<bool(Scene&)> arrange;
};

using kvtest::RemoveLink;

void RunRow(const Row& row) {
  Scene scene;
  scene.root = kvtest::FreshDir(std::wstring(L"hostile\\") +
                                std::wstring(row.name, row.name + std::strlen(row.name)));
  scene.install = scene.root + L"app\\";
  ::CreateDirectoryW(scene.install.c_str(), nullptr);
  ::DeleteFileW(kScript);
  kvtest::ClearPendingRestart();
  if (!row.arrange(scene)) {
    for (const std::wstring& link : scene.links) RemoveLink(link);
    GTEST_SKIP() << "this platform cannot make what the row needs (a folder link, a folder)";
  }

  const bool script = row.runner == Runner::kScript;
  const std::wstring program = scene.install + (script ? kProgram : kCli);
  ASSERT_TRUE(kvtest::CopyProgram(script ? kProbe : kCli, program));
  std::string record = kvtest::RawRecord(scene.header, scene.removals, scene.shortcuts);
  if (scene.cut < record.size()) record.resize(scene.cut);
  kvtest::WriteText(scene.install + kRecord, record);

  const std::wstring launch = scene.launch.empty() ? program : scene.launch;
  const kvtest::ProcessResult run = kvtest::Run(L"\"" + launch + L"\"" + scene.options,
                                                scene.cwd.empty() ? scene.install : scene.cwd);
  ASSERT_FALSE(run.timed_out);
  EXPECT_EQ(scene.exit_code, run.exit_code) << run.output;
  if (script && !scene.program_stays) {
    EXPECT_TRUE(WaitUntil([&] { return !Exists(kScript) && !Exists(program); }))
        << "the clean-up script did not finish";
  }
  if (scene.output) scene.output(kvtest::Lines(run.output));

  for (const auto& [path, text] : scene.canaries)
    EXPECT_EQ(text, kvtest::ReadAll(path)) << "canary lost or changed: " << kvtest::Utf8(path);
  for (const std::wstring& path : scene.gone) EXPECT_FALSE(Exists(path)) << kvtest::Utf8(path);
  if (scene.after) scene.after();

  scene.held.clear();
  kvtest::ClearPendingRestart();
  for (const std::wstring& link : scene.links) RemoveLink(link);
  // Files first, then the folders they were in, innermost first.
  for (const std::wstring& path : scene.cleanup) {
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
  }
  for (auto it = scene.cleanup.rbegin(); it != scene.cleanup.rend(); ++it)
    ::RemoveDirectoryW(it->c_str());
  kvtest::RemoveTree(scene.root);
}

// A folder of another product beside ours, in a shell folder: the canary inside must stay.
std::wstring Neighbour(Scene& s, const std::wstring& folder, const wchar_t* name) {
  const std::wstring path = s.Canary(folder + name + L"\\canary.txt");
  s.cleanup.push_back(folder + name);
  return path;
}

// ---- the rows --------------------------------------------------------------------------------

// List mode: what the removal list names.
bool ListFolder(Scene& s, const std::wstring& entry) {
  s.removals = {Entry(0, entry)};
  return true;
}

const Row kRows[] = {
    {"ListProgramData", Runner::kEngine, [](Scene& s) {
       s.Canary(ShellFolder(CSIDL_COMMON_APPDATA) + L"kv_hostile_canary.txt");
       return ListFolder(s, ShellFolder(CSIDL_COMMON_APPDATA));
     }},
    {"ListDriveRoot", Runner::kEngine, [](Scene& s) {
       s.Canary(L"C:\\kv_hostile_canary.txt");
       return ListFolder(s, L"C:\\");
     }},
    {"ListCurrentDriveRoot", Runner::kEngine, [](Scene& s) {
       s.Canary(L"C:\\kv_hostile_canary.txt");
       return ListFolder(s, L"\\");
     }},
    {"ListRelativeFolder", Runner::kEngine, [](Scene& s) {
       s.cwd = s.root + L"elsewhere\\";
       s.Canary(s.cwd + L"rel\\canary.txt");
       return ListFolder(s, L"rel\\");
     }},
    {"ListClimbingOut", Runner::kEngine, [](Scene& s) {
       s.Canary(s.root + L"canary.txt");
       s.Canary(s.root + L"prod\\a.txt");  // refused whole: not even the product's part goes
       return ListFolder(s, s.root + L"prod\\..\\");
     }},
    {"ListDeviceForm", Runner::kEngine, [](Scene& s) {
       s.Canary(s.root + L"data\\canary.txt");
       return ListFolder(s, L"\\\\?\\" + s.root + L"data\\");
     }},
    {"ListForwardSlashes", Runner::kEngine, [](Scene& s) {
       s.Canary(ShellFolder(CSIDL_COMMON_APPDATA) + L"kv_hostile_canary.txt");
       std::wstring slashed = ShellFolder(CSIDL_COMMON_APPDATA);
       for (wchar_t& c : slashed) c = c == L'\\' ? L'/' : c;
       return ListFolder(s, slashed);
     }},
    {"ListTrailingDot", Runner::kEngine, [](Scene& s) {
       s.Canary(s.root + L"data\\canary.txt");
       return ListFolder(s, s.root + L"data.\\");
     }},
    {"ListFileClimbingOut", Runner::kEngine, [](Scene& s) {
       s.Canary(s.root + L"canary.txt");
       s.removals = {Entry(1, s.root + L"prod\\..\\canary.txt")};
       return true;
     }},
    {"ListFileInsideWindows", Runner::kEngine, [](Scene& s) {
       const std::wstring file = ShellFolder(CSIDL_WINDOWS) + L"kv_hostile_canary.dll";
       s.Canary(file);
       s.removals = {Entry(1, file)};
       return true;
     }},
    {"ListFolderIsALink", Runner::kEngine, [](Scene& s) {
       s.Canary(s.root + L"target\\canary.txt");
       return s.Link(s.root + L"listed", s.root + L"target") && ListFolder(s, s.root + L"listed\\");
     }},
    {"ListRecordCutInsideLastPath", Runner::kEngine, [](Scene& s) {
       s.Canary(s.root + L"parent\\canary.txt");
       s.Product(s.root + L"prod\\a.txt");
       s.removals = {Entry(1, s.root + L"prod\\a.txt"), Entry(0, s.root + L"parent\\product\\")};
       // The file ends right after the parent's part of the last path.
       s.cut = 760 + 4 + 524 + 4 + (s.root.size() + std::wcslen(L"parent\\")) * sizeof(wchar_t);
       return true;
     }},
    {"MenuFolderCutShort", Runner::kEngine, [](Scene& s) {
       Neighbour(s, ShellFolder(CSIDL_PROGRAMS), L"Brix");
       Put(s.header.menuFolder, L"Brix Tools");
       s.cut = 300 + 4 * sizeof(wchar_t);  // ends inside the menu folder, after "Brix"
       return true;
     }},
    {"MenuFolderIsALink", Runner::kEngine, [](Scene& s) {
       s.Canary(s.root + L"target\\canary.txt");
       Put(s.header.menuFolder, L"kv hostile menu");
       return s.Link(ShellFolder(CSIDL_PROGRAMS) + L"kv hostile menu", s.root + L"target");
     }},
    {"NameClimbsOut", Runner::kEngine, [](Scene& s) {
       // From the all-users desktop up to the drive, then down to a link of someone else's.
       const std::wstring desktop = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY);
       std::wstring name;
       for (size_t i = 3; i < desktop.size(); ++i)
         if (desktop[i] == L'\\') name += L"..\\";
       name += s.root.substr(3) + L"victim";
       s.Canary(s.root + L"victim.lnk");
       Put(s.header.displayName, name);
       return name.size() < 50;
     }},
    // Folder mode: the program lies in a folder no product may own.
    {"FolderAppData", Runner::kEngine, [](Scene& s) {
       const std::wstring app_data = Variable(L"USERPROFILE") + L"AppData\\";
       s.Canary(app_data + L"Roaming\\kv_hostile_canary.txt");
       s.Canary(app_data + L"Local\\kv_hostile_canary.txt");
       s.InstallAt(app_data);
       s.FolderMode();
       return PlainFolder(app_data);
     }},
    {"FolderPublicProfile", Runner::kEngine, [](Scene& s) {
       const std::wstring pub = Variable(L"PUBLIC");
       s.Canary(pub + L"kv_hostile_canary.txt");
       s.InstallAt(pub);
       s.FolderMode();
       return PlainFolder(pub);
     }},
    {"FolderOtherUsersProfile", Runner::kEngine, [](Scene& s) {
       wchar_t profiles[MAX_PATH] = {};
       DWORD size = MAX_PATH;
       EXPECT_TRUE(::GetProfilesDirectoryW(profiles, &size));
       const std::wstring other = std::wstring(profiles) + L"\\kvother\\";
       s.Canary(other + L"NTUSER.DAT");
       s.cleanup.push_back(other);
       s.InstallAt(other);
       s.FolderMode();
       return true;
     }},
    {"FolderTemp", Runner::kEngine, [](Scene& s) {
       wchar_t temp[MAX_PATH + 1] = {};
       ::GetTempPathW(MAX_PATH + 1, temp);
       s.Canary(std::wstring(temp) + L"kv_hostile_canary.txt");
       s.InstallAt(temp);
       s.FolderMode();
       return PlainFolder(temp);
     }},
    {"FolderDownloads", Runner::kEngine, [](Scene& s) {
       const std::wstring downloads = Variable(L"USERPROFILE") + L"Downloads\\";
       // Only a real folder of the prefix: never a link into the machine's own home.
       if (!PlainFolder(downloads)) return false;
       s.Canary(downloads + L"kv_hostile_canary.txt");
       s.InstallAt(downloads);
       s.FolderMode();
       return true;
     }},
    {"FolderInsideWindows", Runner::kEngine, [](Scene& s) {
       const std::wstring folder = ShellFolder(CSIDL_WINDOWS) + L"kvhostile\\";
       s.Canary(folder + L"canary.txt");
       s.cleanup.push_back(folder);
       s.InstallAt(folder);
       s.FolderMode();
       return true;
     }},
    {"FolderReachedThroughALink", Runner::kEngine, [](Scene& s) {
       s.Canary(s.root + L"target\\canary.txt");
       s.InstallAt(s.root + L"target\\");
       s.FolderMode();
       s.launch = s.root + L"link\\" + kCli;
       s.cwd = s.root;
       return s.Link(s.root + L"link", s.root + L"target");
     }},
    // The engine's own end: the record goes last, after the key and the links.
    {"FolderRecordGoesLast", Runner::kEngine, [](Scene& s) {
       s.Product(s.install + L"data\\file.bin");
       s.FolderMode();
       s.gone.push_back(s.install + kRecord);
       s.options = L" --watch \"" + s.install + kRecord + L"\"";
       s.output = [](const std::vector<std::string>& lines) {
         EXPECT_EQ((std::vector<std::string>{"sent 33 +", "sent 66 +", "sent 100 +", "posted 100 -",
                                             "done"}),
                   lines);
       };
       return true;
     }},
    // The clean-up script.
    {"ScriptPercentInFolderName", Runner::kScript, [](Scene& s) {
       s.Canary(s.root + L"50off\\canary.txt");
       s.InstallAt(s.root + L"50%off\\");
       s.Product(s.install + L"data.bin");
       s.gone.push_back(s.install);
       s.FolderMode();
       return true;
     }},
    {"ScriptInstallDirWithPercent", Runner::kScript, [](Scene& s) {
       s.Canary(s.root + L"victim\\canary.txt");
       ::CreateDirectoryW((s.root + L"victim%X%").c_str(), nullptr);
       s.gone.push_back(s.install);
       Put(s.header.installDir, s.root + L"victim%X%\\");
       return true;
     }},
    {"ScriptInstallDirElsewhere", Runner::kScript, [](Scene& s) {
       s.Canary(s.root + L"other\\canary.txt");
       s.gone.push_back(s.install);
       Put(s.header.installDir, s.root + L"other\\");
       return true;
     }},
    {"ScriptLinkLeftInside", Runner::kScript, [](Scene& s) {
       s.Canary(s.root + L"target\\canary.txt");
       s.Canary(s.root + L"target\\inner\\canary.txt");
       s.Product(s.install + L"data.bin");
       s.FolderMode();
       return s.Link(s.install + L"link", s.root + L"target");
     }},
    {"ScriptPathIsAHardLink", Runner::kScript, [](Scene& s) {
       const std::wstring victim = s.Canary(s.root + L"victim.txt");
       s.gone.push_back(s.install);
       s.FolderMode();
       return ::CreateHardLinkW(kScript, victim.c_str(), nullptr) != FALSE;
     }},
    {"ScriptPathIsAnEmptyFolder", Runner::kScript, [](Scene& s) {
       s.gone.push_back(s.install);
       s.FolderMode();
       return ::CreateDirectoryW(kScript, nullptr) != FALSE;
     }},
    {"ScriptPathIsAFolderInUse", Runner::kScript, [](Scene& s) {
       // No script can be made: the restart removes the program, and says so in the exit code.
       s.Canary(std::wstring(kScript) + L"\\theirs.txt");
       s.cleanup.push_back(kScript);
       s.FolderMode();
       s.exit_code = kExitRestartNeeded;
       s.program_stays = true;
       const std::wstring program = s.install + kProgram;
       s.after = [program] {
         const std::vector<std::wstring> pending = kvtest::PendingRestart();
         EXPECT_NE(pending.end(), std::find(pending.begin(), pending.end(), program));
         EXPECT_TRUE(Exists(program));
       };
       return true;
     }},
    {"ScriptEndsOnlyItsOwnProcess", Runner::kScript, [](Scene& s) {
       // Another program of the same name runs elsewhere; the script must leave it alone.
       const std::wstring other = s.root + L"other\\" + kProgram;
       ::CreateDirectoryW((s.root + L"other").c_str(), nullptr);
       EXPECT_TRUE(kvtest::CopyProgram(kProbe, other));
       STARTUPINFOW startup = {};
       startup.cb = sizeof(startup);
       PROCESS_INFORMATION process = {};
       std::wstring command = L"\"" + other + L"\" --sleep 60000";
       if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW,
                             nullptr, nullptr, &startup, &process))
         return false;
       auto handle = std::make_shared<kv::UniqueHandleKernel>(process.hProcess);
       kv::UniqueHandleKernel thread(process.hThread);
       s.gone.push_back(s.install);
       s.FolderMode();
       s.after = [handle] {
         EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(handle->get(), 0))
             << "the other program was ended";
         ::TerminateProcess(handle->get(), 0);
         ::WaitForSingleObject(handle->get(), 10000);
       };
       return true;
     }},
    {"ScriptPathOutsideTheAnsiOemOverlap", Runner::kScript, [](Scene& s) {
       // cmd reads a batch file in the OEM code page; on a Western system that differs from the
       // ANSI one exactly in letters like this.
       s.InstallAt(s.root + L"Caf\u00E9\\");
       s.gone.push_back(s.install);
       s.FolderMode();
       return true;
     }},
    {"ScriptListModeEmptyFolderGoes", Runner::kScript, [](Scene& s) {
       s.removals = {Entry(1, s.install + kRecord)};
       s.gone.push_back(s.install);
       return true;
     }},
    {"ScriptListModeFolderWithFilesStays", Runner::kScript, [](Scene& s) {
       s.Canary(s.install + L"settings.ini");
       s.gone.push_back(s.install + kProgram);
       return true;
     }},
    {"ScriptFileInUseWaitsForRestart", Runner::kScript, [](Scene& s) {
       const std::wstring used = s.Product(s.root + L"data\\used.txt");
       s.gone.pop_back();
       s.Product(s.root + L"data\\free.txt");
       s.held.emplace_back(::CreateFileW(used.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                         OPEN_EXISTING, 0, nullptr));
       s.removals = {Entry(0, s.root + L"data\\")};
       s.exit_code = kExitRestartNeeded;
       const std::wstring folder = s.root + L"data";
       s.after = [used, folder] {
         const std::vector<std::wstring> pending = kvtest::PendingRestart();
         for (const std::wstring& path : {used, folder})
           EXPECT_NE(pending.end(), std::find(pending.begin(), pending.end(), path))
               << kvtest::Utf8(path);
       };
       return static_cast<bool>(s.held.back());
     }},
};

// Both Program Files folders of a 64-bit system; a 32-bit process is told only the (x86) ones.
// Elsewhere the one Program Files folder stands in.
bool NativeFolderMode(Scene& s, const wchar_t* variable, int csidl) {
  std::wstring native = Variable(variable);
  if (native.empty()) native = ShellFolder(csidl);
  s.Canary(native + L"kv_hostile_canary.txt");
  s.InstallAt(native);
  s.FolderMode();
  return PlainFolder(native);
}

const Row kNativeFolderRows[] = {
    {"FolderNativeProgramFiles", Runner::kEngine,
     [](Scene& s) { return NativeFolderMode(s, L"ProgramW6432", CSIDL_PROGRAM_FILES); }},
    {"FolderNativeCommonFiles", Runner::kEngine,
     [](Scene& s) { return NativeFolderMode(s, L"CommonProgramW6432", CSIDL_PROGRAM_FILES_COMMON); }},
    {"ListNativeProgramFiles", Runner::kEngine, [](Scene& s) {
       std::wstring native = Variable(L"ProgramW6432");
       if (native.empty()) native = ShellFolder(CSIDL_PROGRAM_FILES);
       s.Canary(native + L"kv_hostile_canary.txt");
       return ListFolder(s, native);
     }},
};

class HostileRecord : public ::testing::TestWithParam<Row> {};
class HostileRecordView : public ::testing::TestWithParam<Row> {};

TEST_P(HostileRecord, CanariesSurvive) { RunRow(GetParam()); }

TEST_P(HostileRecordView, CanariesSurvive) {
  if (const char* expect = std::getenv("KV_EXPECT_WOW64"); expect && *expect == '1') {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64);
  }
  RunRow(GetParam());
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Rows, HostileRecord, ::testing::ValuesIn(kRows), RowName);
INSTANTIATE_TEST_SUITE_P(Rows, HostileRecordView, ::testing::ValuesIn(kNativeFolderRows), RowName);

// Run as administrator from a folder others may write to, the program loads no library from the
// current folder: a planted copy of one stays unloaded. Without the restriction it would load.
TEST(HostileLibrary, NoLibraryFromTheCurrentFolder) {
  const std::wstring cwd = kvtest::FreshDir(L"hostile\\library");
  ASSERT_TRUE(kvtest::CopyProgram(L"zlib1.dll", cwd + L"kvplanted.dll"));
  const std::wstring probe = L"\"" + kvtest::BinDir() + kProbe + L"\"";
  struct Row {
    const wchar_t* options;
    DWORD exit_code;
  };
  for (const Row& row : {Row{L" --load kvplanted.dll", 0}, Row{L" --restricted --load kvplanted.dll", 5}}) {
    const kvtest::ProcessResult r = kvtest::Run(probe + row.options, cwd);
    EXPECT_EQ(row.exit_code, r.exit_code) << kvtest::Utf8(row.options);
  }
  kvtest::RemoveTree(cwd);
}

// A folder swapped for a link after the walk listed it and before it entered it: the listing
// still says "folder", so only a check on the folder itself can tell.
TEST(HostileSwap, FolderSwappedForALinkMidWalkIsNotEntered) {
  const std::wstring root = kvtest::FreshDir(L"hostile\\swap");
  const std::wstring tree = root + L"tree\\", target = root + L"target\\";
  kvtest::WriteText(target + L"canary.txt", "canary");
  kvtest::WriteText(tree + L"first.txt", "x");
  for (int i = 0; i < 8; ++i) kvtest::WriteText(tree + L"sub" + std::to_wstring(i) + L"\\f.txt", "x");
  bool swapped = false, linked = true;
  auto swap_all = [&] {
    if (swapped) return;
    swapped = true;
    // Every folder not yet entered (the one being walked cannot be renamed while it is held).
    for (int i = 0; i < 8; ++i) {
      const std::wstring sub = tree + L"sub" + std::to_wstring(i);
      if (::MoveFileW(sub.c_str(), (root + L"moved" + std::to_wstring(i)).c_str()))
        linked = kvtest::MakeFolderLink(sub, target) && linked;
    }
  };
  kv::sweep::FolderSweep sweep({}, swap_all, nullptr);
  sweep.Sweep(kv::guard::FinalPath(tree) + L"\\");
  const std::string canary = kvtest::ReadAll(target + L"canary.txt");
  kvtest::RemoveTree(root);
  if (!linked) GTEST_SKIP() << "no folder links here";
  EXPECT_TRUE(swapped);
  EXPECT_EQ("canary", canary);
}

}  // namespace
