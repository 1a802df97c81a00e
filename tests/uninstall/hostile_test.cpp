// Records and installations made to reach outside the product, against the real engine
// (kvUninstallCli) and the real clean-up script (the helper installed as kvUninstall.exe). Every
// row plants canaries outside the product and ends with each of them in place and unchanged, and
// with the product's own files gone where the row says so.
#include <shlobj.h>
#include <userenv.h>

#include <algorithm>
#include <functional>
#include <memory>

#include "tests/uninstall/uninstall_fixtures.h"
#include "uninstall/deletion_guard.h"
#include "uninstall/folder_sweep.h"
#include "uninstall/uninstaller.h"
#include "util/handles.h"

namespace {

using namespace kvtest;

constexpr wchar_t kScript[] = L"c:\\clear.bat";
const std::wstring kKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KvHostile";

std::wstring Shell(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return std::wstring(path) + L"\\";
}

// A variable's folder, or the shell folder that stands in where it is not set.
std::wstring Folder(const wchar_t* variable, int csidl = CSIDL_PROFILE) {
  wchar_t value[MAX_PATH] = {};
  const DWORD n = ::GetEnvironmentVariableW(variable, value, MAX_PATH);
  return n && n < MAX_PATH ? std::wstring(value) + L"\\" : Shell(csidl);
}

// A folder of the prefix that is on drive C and no link: where a row may plant files (never a
// link into the machine's own home).
bool Plain(const std::wstring& folder) {
  const DWORD a = ::GetFileAttributesW(folder.c_str());
  return towupper(folder[0]) == L'C' && a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) &&
         !(a & FILE_ATTRIBUTE_REPARSE_POINT);
}

struct Scene {
  std::wstring root, install, launch, cwd, options;
  UninstallRecord header = {};
  std::vector<UninstallEntry> removals, shortcuts;
  size_t cut = std::string::npos;
  DWORD exit_code = 0;
  bool script = false, program_stays = false;
  std::vector<std::wstring> canaries, gone, cleanup, links;
  std::vector<kv::UniqueFile> held;
  std::function<void(const std::vector<std::string>&)> after;

  std::wstring Canary(const std::wstring& path) {
    WriteText(path, "canary " + Utf8(path));
    canaries.push_back(path);
    cleanup.push_back(path);
    return path;
  }
  std::wstring Product(const std::wstring& path) {
    WriteText(path, "product");
    gone.push_back(path);
    return path;
  }
  // The program and its record lie in folder; outside the row's own folder they go afterwards.
  void At(const std::wstring& folder) {
    install = folder;
    for (const wchar_t* f : {L"kvUninstall.exe", L"kvUninstallCli.exe", L"kvUninstall.dat"})
      cleanup.push_back(folder + f);
  }
  // Folder mode names a folder other than the program's own: the program's own is what counts.
  void FolderMode() { Put(header.installDir, root + L"elsewhere\\"); }
  bool Link(const std::wstring& link, const std::wstring& target) {
    links.push_back(link);
    return MakeFolderLink(link, target);
  }
};

struct Row {
  const char* name;
  std::function<bool(Scene&)> arrange;  // false: this platform cannot make what the row needs
};

void RunRow(const Row& row) {
  Scene s;
  s.root = FreshDir(L"hostile\\" + Wide(row.name));
  s.install = s.root + L"app\\";
  ::DeleteFileW(kScript);
  ClearPendingRestart();
  // Every run deletes the product's key, whatever it refuses on the way.
  SetRegText(HKEY_LOCAL_MACHINE, kKey, L"DisplayName", L"KvHostile");
  Put(s.header.uninstallKey, L"KvHostile");
  const bool made = row.arrange(s);
  ::CreateDirectoryW(s.install.c_str(), nullptr);
  // And its listed links, wherever the record reaches that far.
  if (s.cut == std::string::npos) s.shortcuts.push_back(Entry(1, s.Product(s.root + L"links\\hostile.lnk")));
  const std::wstring program = s.install + (s.script ? L"kvUninstall.exe" : L"kvUninstallCli.exe");
  if (made) {
    ASSERT_TRUE(CopyProgram(s.script ? L"kvtesthelper.exe" : L"kvUninstallCli.exe", program));
    std::string record = RawRecord(s.header, s.removals, s.shortcuts);
    WriteText(s.install + L"kvUninstall.dat", record.substr(0, s.cut));
    const ProcessResult run = kvtest::Run(
        L"\"" + (s.launch.empty() ? program : s.launch) + L"\"" + (s.script ? L" uninstall" : L"") + s.options,
        s.cwd.empty() ? s.install : s.cwd);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(s.exit_code, run.exit_code) << run.output;
    if (s.script && !s.program_stays) {
      EXPECT_TRUE(PollUntil([&] { return !Exists(kScript) && !Exists(program); }, 30000))
          << "the clean-up script did not finish";
    }
    for (const std::wstring& path : s.canaries)
      EXPECT_EQ("canary " + Utf8(path), ReadAll(path)) << "canary lost or changed: " << Utf8(path);
    for (const std::wstring& path : s.gone) EXPECT_FALSE(Exists(path)) << Utf8(path);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKey)) << "the key goes whatever was refused";
    if (s.after) s.after(Lines(run.output));
  }
  s.held.clear();
  ClearPendingRestart();
  DeleteRegTree(HKEY_LOCAL_MACHINE, kKey);
  for (const std::wstring& link : s.links) RemoveLink(link);
  for (const std::wstring& path : s.cleanup) RemoveTree(path);
  RemoveTree(s.root);
  if (!made) GTEST_SKIP() << "this platform cannot make what the row needs (a folder link, a folder)";
}

bool List(Scene& s, const std::wstring& entry) {
  s.removals = {Entry(0, entry)};
  return true;
}

bool FolderAt(Scene& s, const std::wstring& folder, std::initializer_list<const wchar_t*> canaries) {
  for (const wchar_t* c : canaries) s.Canary(folder + c);
  s.At(folder);
  s.FolderMode();
  return Plain(folder);
}

std::vector<std::wstring> Pending() { return PendingRestart(); }
bool Has(const std::vector<std::wstring>& list, const std::wstring& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

const Row kRows[] = {
    // List mode: what the removal list names.
    {"ListProgramData",
     [](Scene& s) {
       s.Canary(Shell(CSIDL_COMMON_APPDATA) + L"kv_canary.txt");
       return List(s, Shell(CSIDL_COMMON_APPDATA));
     }},
    {"ListDriveRoot",
     [](Scene& s) {
       s.Canary(L"C:\\kv_canary.txt");
       return List(s, L"C:\\");
     }},
    {"ListCurrentDriveRoot",
     [](Scene& s) {
       s.Canary(L"C:\\kv_canary.txt");
       return List(s, L"\\");
     }},
    {"ListRelativeFolder",
     [](Scene& s) {
       s.cwd = s.root + L"elsewhere\\";
       s.Canary(s.cwd + L"rel\\canary.txt");
       return List(s, L"rel\\");
     }},
    {"ListClimbingOut",
     [](Scene& s) {
       s.Canary(s.root + L"canary.txt");
       s.Canary(s.root + L"prod\\a.txt");
       return List(s, s.root + L"prod\\..\\");
     }},
    {"ListDeviceForm",
     [](Scene& s) {
       s.Canary(s.root + L"data\\canary.txt");
       return List(s, L"\\\\?\\" + s.root + L"data\\");
     }},
    {"ListForwardSlashes",
     [](Scene& s) {
       std::wstring slashed = Shell(CSIDL_COMMON_APPDATA);
       s.Canary(slashed + L"kv_canary.txt");
       std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
       return List(s, slashed);
     }},
    {"ListTrailingDot",
     [](Scene& s) {
       s.Canary(s.root + L"data\\canary.txt");
       return List(s, s.root + L"data.\\");
     }},
    {"ListFileClimbingOut",
     [](Scene& s) {
       s.Canary(s.root + L"canary.txt");
       s.removals = {Entry(1, s.root + L"prod\\..\\canary.txt")};
       return true;
     }},
    {"ListFileInsideWindows",
     [](Scene& s) {
       s.removals = {Entry(1, s.Canary(Shell(CSIDL_WINDOWS) + L"kv_canary.dll"))};
       return true;
     }},
    {"ListFolderIsALink",
     [](Scene& s) {
       s.Canary(s.root + L"target\\canary.txt");
       return s.Link(s.root + L"listed", s.root + L"target") && List(s, s.root + L"listed\\");
     }},
    {"ListRecordCutInsideLastPath",
     [](Scene& s) {
       s.Canary(s.root + L"parent\\canary.txt");
       s.removals = {Entry(1, s.Product(s.root + L"prod\\a.txt")), Entry(0, s.root + L"parent\\product\\")};
       s.cut = 760 + 4 + 524 + 4 + (s.root.size() + 7) * sizeof(wchar_t);  // after "parent\"
       return true;
     }},
    {"MenuFolderCutShort",
     [](Scene& s) {
       s.Canary(Shell(CSIDL_PROGRAMS) + L"Brix\\canary.txt");  // another product's menu folder
       s.cleanup.push_back(Shell(CSIDL_PROGRAMS) + L"Brix");
       Put(s.header.menuFolder, L"Brix Tools");
       s.cut = 300 + 4 * sizeof(wchar_t);  // ends after "Brix"
       return true;
     }},
    {"MenuFolderIsALink",
     [](Scene& s) {
       s.Canary(s.root + L"target\\canary.txt");
       Put(s.header.menuFolder, L"kv hostile menu");
       return s.Link(Shell(CSIDL_PROGRAMS) + L"kv hostile menu", s.root + L"target");
     }},
    {"NameClimbsOut",
     [](Scene& s) {
       // From the all-users desktop up to the drive, then down to someone else's link.
       const std::wstring desktop = Shell(CSIDL_COMMON_DESKTOPDIRECTORY);
       std::wstring name;
       for (size_t i = 3; i + 1 < desktop.size(); ++i) name += desktop[i] == L'\\' ? L"..\\" : L"";
       name += L"..\\" + s.root.substr(3) + L"victim";
       s.Canary(s.root + L"victim.lnk");
       Put(s.header.displayName, name);
       return name.size() < 50;
     }},
    // Folder mode: the program lies in a folder no product may own.
    {"FolderAppData",
     [](Scene& s) {
       return FolderAt(s, Folder(L"USERPROFILE") + L"AppData\\", {L"Roaming\\kv_canary.txt", L"Local\\kv_canary.txt"});
     }},
    {"FolderPublicProfile", [](Scene& s) { return FolderAt(s, Folder(L"PUBLIC"), {L"kv_canary.txt"}); }},
    {"FolderOtherUsersProfile",
     [](Scene& s) {
       wchar_t profiles[MAX_PATH] = {};
       DWORD size = MAX_PATH;
       ::GetProfilesDirectoryW(profiles, &size);
       const std::wstring other = std::wstring(profiles) + L"\\kvother\\";
       s.cleanup.push_back(other);
       s.Canary(other + L"NTUSER.DAT");
       return FolderAt(s, other, {});
     }},
    {"FolderTemp", [](Scene& s) { return FolderAt(s, Folder(L"TEMP"), {L"kv_canary.txt"}); }},
    {"FolderDownloads",
     [](Scene& s) { return FolderAt(s, Folder(L"USERPROFILE") + L"Downloads\\", {L"kv_canary.txt"}); }},
    {"FolderInsideWindows",
     [](Scene& s) {
       s.cleanup.push_back(Shell(CSIDL_WINDOWS) + L"kvhostile");
       return FolderAt(s, Shell(CSIDL_WINDOWS) + L"kvhostile\\", {L"canary.txt"});
     }},
    {"FolderReachedThroughALink",
     [](Scene& s) {
       FolderAt(s, s.root + L"target\\", {L"canary.txt"});
       s.launch = s.root + L"link\\kvUninstallCli.exe";
       return s.Link(s.root + L"link", s.root + L"target");
     }},
    // The product's folder goes although the record names a system folder as its installation.
    {"FolderRecordNamesASystemFolder",
     [](Scene& s) {
       s.Product(s.install + L"data\\file.bin");
       Put(s.header.installDir, Shell(CSIDL_COMMON_APPDATA));
       return true;
     }},
    // The record goes last, after the key and the links: every progress message still sees it.
    {"FolderRecordGoesLast",
     [](Scene& s) {
       s.Product(s.install + L"data\\file.bin");
       s.gone.push_back(s.install + L"kvUninstall.dat");
       s.FolderMode();
       s.options = L" --watch \"" + s.install + L"kvUninstall.dat\"";
       s.after = [](const std::vector<std::string>& lines) {
         EXPECT_EQ((std::vector<std::string>{"sent 33 +", "sent 66 +", "sent 100 +", "posted 100 -", "done"}), lines);
       };
       return true;
     }},
    // The clean-up script.
    {"ScriptPercentInFolderName",
     [](Scene& s) {
       s.script = true;
       s.Canary(s.root + L"50off\\canary.txt");
       s.At(s.root + L"50%off\\");
       s.Product(s.install + L"data.bin");
       s.gone.push_back(s.install);
       s.FolderMode();
       return true;
     }},
    {"ScriptInstallDirWithPercent",
     [](Scene& s) {
       s.script = true;
       s.Canary(s.root + L"victim\\canary.txt");
       ::CreateDirectoryW((s.root + L"victim%X%").c_str(), nullptr);
       s.gone.push_back(s.install);
       Put(s.header.installDir, s.root + L"victim%X%\\");
       return true;
     }},
    {"ScriptLinkLeftInside",
     [](Scene& s) {
       s.script = true;
       s.Canary(s.root + L"target\\inner\\canary.txt");
       s.Product(s.install + L"data.bin");
       s.FolderMode();
       return s.Link(s.install + L"link", s.root + L"target");
     }},
    {"ScriptPathIsAHardLink",
     [](Scene& s) {
       s.script = true;
       s.gone.push_back(s.install);
       s.FolderMode();
       return ::CreateHardLinkW(kScript, s.Canary(s.root + L"victim.txt").c_str(), nullptr) != FALSE;
     }},
    {"ScriptPathIsAnEmptyFolder",
     [](Scene& s) {
       s.script = true;
       s.gone.push_back(s.install);
       s.FolderMode();
       return ::CreateDirectoryW(kScript, nullptr) != FALSE;
     }},
    {"ScriptPathIsAFolderInUse",
     [](Scene& s) {
       // No script can be made: the restart removes the program, and the exit code says so.
       s.script = s.program_stays = true;
       s.Canary(std::wstring(kScript) + L"\\theirs.txt");
       s.cleanup.push_back(kScript);
       s.FolderMode();
       s.exit_code = kExitRestartNeeded;
       const std::wstring program = s.install + L"kvUninstall.exe";
       s.after = [program](auto&) { EXPECT_TRUE(Has(Pending(), program)); };
       return true;
     }},
    {"ScriptEndsOnlyItsOwnProcess",
     [](Scene& s) {
       s.script = true;
       const std::wstring other = s.root + L"other\\kvUninstall.exe";
       ::CreateDirectoryW((s.root + L"other").c_str(), nullptr);
       CopyProgram(L"kvtesthelper.exe", other);
       STARTUPINFOW si = {};
       si.cb = sizeof(si);
       PROCESS_INFORMATION pi = {};
       std::wstring command = L"\"" + other + L"\" sleep 60000";
       if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &si,
                             &pi))
         return false;
       auto bystander = std::make_shared<kv::UniqueHandleKernel>(pi.hProcess);
       kv::UniqueHandleKernel thread(pi.hThread);
       s.gone.push_back(s.install);
       s.FolderMode();
       s.after = [bystander](auto&) {
         EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(bystander->get(), 0)) << "it was ended";
         ::TerminateProcess(bystander->get(), 0);
         ::WaitForSingleObject(bystander->get(), 10000);
       };
       return true;
     }},
    // cmd reads a batch file in the OEM code page; on a Western system that differs from the ANSI
    // one exactly in letters like this.
    {"ScriptPathOutsideTheAnsiOemOverlap",
     [](Scene& s) {
       s.script = true;
       s.At(s.root + L"Caf\u00E9\\");
       s.gone.push_back(s.install);
       s.FolderMode();
       return true;
     }},
    {"ScriptListModeEmptyFolderGoes",
     [](Scene& s) {
       s.script = true;
       s.removals = {Entry(1, s.install + L"kvUninstall.dat")};
       s.gone.push_back(s.install);
       return true;
     }},
    {"ScriptListModeFolderWithFilesStays",
     [](Scene& s) {
       s.script = true;
       s.Canary(s.install + L"settings.ini");
       s.gone.push_back(s.install + L"kvUninstall.exe");
       return true;
     }},
    {"ScriptFileInUseWaitsForRestart",
     [](Scene& s) {
       s.script = true;
       const std::wstring used = s.root + L"data\\used.txt";
       WriteText(used, "in use");
       s.Product(s.root + L"data\\free.txt");
       s.held.emplace_back(
           ::CreateFileW(used.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
       s.removals = {Entry(0, s.root + L"data\\")};
       s.exit_code = kExitRestartNeeded;
       const std::wstring folder = s.root + L"data";
       s.after = [used, folder](auto&) {
         for (const std::wstring& path : {used, folder}) EXPECT_TRUE(Has(Pending(), path)) << Utf8(path);
       };
       return static_cast<bool>(s.held.back());
     }},
    // Both Program Files folders of a 64-bit system; a 32-bit process is told only the (x86) ones.
    {"FolderNativeProgramFilesView",
     [](Scene& s) { return FolderAt(s, Folder(L"ProgramW6432", CSIDL_PROGRAM_FILES), {L"kv_canary.txt"}); }},
    {"FolderNativeCommonFilesView",
     [](Scene& s) {
       return FolderAt(s, Folder(L"CommonProgramW6432", CSIDL_PROGRAM_FILES_COMMON), {L"kv_canary.txt"});
     }},
    {"ListNativeProgramFilesView",
     [](Scene& s) {
       s.Canary(Folder(L"ProgramW6432", CSIDL_PROGRAM_FILES) + L"kv_canary.txt");
       return List(s, Folder(L"ProgramW6432", CSIDL_PROGRAM_FILES));
     }},
};

class HostileRecord : public ::testing::TestWithParam<Row> {};
TEST_P(HostileRecord, CanariesSurvive) {
  if (ExpectedWow64() == 1) {
    BOOL wow64 = FALSE;
    ASSERT_TRUE(::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64) << "meant for WOW64";
  }
  RunRow(GetParam());
}
INSTANTIATE_TEST_SUITE_P(Rows, HostileRecord, ::testing::ValuesIn(kRows),
                         [](const auto& info) { return std::string(info.param.name); });

// Run as administrator from a folder others may write to, the program loads no library from the
// current folder: a planted copy stays unloaded. Without the restriction it would load.
TEST(HostileLibrary, NoLibraryFromTheCurrentFolder) {
  const std::wstring cwd = FreshDir(L"hostile\\library");
  ASSERT_TRUE(CopyProgram(L"zlib1.dll", cwd + L"kvplanted.dll"));
  EXPECT_EQ(0u, Helper(L"load kvplanted.dll", cwd).exit_code);
  EXPECT_EQ(5u, Helper(L"load kvplanted.dll --restricted", cwd).exit_code);
}

// A folder swapped for a link after the walk listed it and before it entered it: the listing
// still says "folder", so only a check on the folder itself can tell.
TEST(HostileSwap, FolderSwappedForALinkMidWalkIsNotEntered) {
  const std::wstring root = FreshDir(L"hostile\\swap"), tree = root + L"tree\\", target = root + L"target\\";
  WriteText(target + L"canary.txt", "canary");
  for (int i = 0; i < 8; ++i) WriteText(tree + L"sub" + std::to_wstring(i) + L"\\f.txt", "x");
  bool swapped = false, linked = true;
  // At the first file: every folder not yet entered (the one being walked is held) becomes a link.
  kv::sweep::FolderSweep sweep(
      {},
      [&] {
        for (int i = 0; i < 8 && !swapped; ++i) {
          const std::wstring sub = tree + L"sub" + std::to_wstring(i);
          if (::MoveFileW(sub.c_str(), (root + L"moved" + std::to_wstring(i)).c_str()))
            linked = MakeFolderLink(sub, target) && linked;
        }
        swapped = true;
      },
      nullptr);
  sweep.Sweep(kv::guard::FinalPath(tree) + L"\\");
  const std::string canary = ReadAll(target + L"canary.txt");
  RemoveTree(root);
  if (!linked) GTEST_SKIP() << "no folder links here";
  EXPECT_EQ("canary", canary);
}

}  // namespace
