// Installations run to their end: the real engine (kvUninstallCli) or, where the clean-up script
// has its turn, the helper installed as kvUninstall.exe. Every row plants canaries outside the
// product, which stay as they were, and files of the product, which go; and in every row, whatever
// was refused on the way, the product's key, its desktop link and its listed link go.
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

const std::wstring R = L"C:\\kvtest\\run\\";  // each row's own folder, made afresh
constexpr wchar_t kScript[] = L"c:\\clear.bat";
const std::wstring kKey = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\KvHostile";
constexpr wchar_t kSession[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";

struct Row {
  const char* name;
  std::wstring at = R + L"app\\";        // the program's folder
  std::wstring dir{};                    // the record's installation folder (folder mode); below R it holds a canary
  std::vector<UninstallEntry> listed{};  // the removal list (list mode)
  std::vector<std::wstring> canaries{}, product{}, gone{};     // stay as planted; planted and go; go
  std::vector<std::pair<std::wstring, std::wstring>> links{};  // link, target
  std::function<bool(Row&)> arrange = nullptr;                 // the rest; false: not possible here
  bool script = false;                                         // the program ends with the clean-up script
  DWORD exit_code = 0;
  std::vector<std::string> lines{};  // the progress lines, where given
  std::wstring menu{}, display = L"KvHostile", cwd{}, launch{}, options{};
  size_t cut = std::string::npos;     // the record ends after this many bytes
  std::vector<std::wstring> trash{};  // made outside R, removed afterwards
  std::function<void()> after = nullptr;
};

bool PendingRestart(const std::wstring& path) {
  DWORD bytes = 0;
  ::RegGetValueW(HKEY_LOCAL_MACHINE, kSession, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr, nullptr,
                 &bytes);
  std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
  ::RegGetValueW(HKEY_LOCAL_MACHINE, kSession, L"PendingFileRenameOperations", RRF_RT_REG_MULTI_SZ, nullptr,
                 data.data(), &bytes);
  return data.find(path) != std::wstring::npos;
}

// A folder where a row may plant files: on drive C and no link (never one into the machine's home).
bool Plain(const std::wstring& folder) {
  ::CreateDirectoryW(folder.c_str(), nullptr);
  const DWORD a = ::GetFileAttributesW(folder.c_str());
  return towupper(folder[0]) == L'C' && a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY) &&
         !(a & FILE_ATTRIBUTE_REPARSE_POINT);
}

// A variable's folder, or the shell's where it is not set.
std::wstring Folder(const wchar_t* variable, int csidl = CSIDL_PROFILE) {
  wchar_t value[MAX_PATH] = {};
  const DWORD n = ::GetEnvironmentVariableW(variable, value, MAX_PATH);
  return n && n < MAX_PATH ? std::wstring(value) + L"\\" : ShellDir(csidl);
}

// False when this system cannot make what the row needs.
bool RunRow(Row r) {
  SCOPED_TRACE(r.name);
  FreshDir(L"run");
  ::DeleteFileW(kScript);
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSession, L"PendingFileRenameOperations");
  SetRegText(HKEY_LOCAL_MACHINE, kKey, L"DisplayName", L"KvHostile");
  if (r.dir.rfind(R, 0) == 0) r.canaries.push_back(r.dir + L"canary.txt");
  std::vector<UninstallEntry> shortcuts;
  if (r.cut == std::string::npos) {  // the listed link, wherever the record reaches that far
    r.product.push_back(R + L"links\\hostile.lnk");
    shortcuts.push_back(Entry(1, r.product.back()));
  }
  if (r.display == L"KvHostile") r.product.push_back(ShellDir(CSIDL_COMMON_DESKTOPDIRECTORY) + L"KvHostile.lnk");
  bool made = Plain(r.at);
  if (made) {
    for (const std::wstring& c : r.canaries) WriteText(c, "canary " + Utf8(c));
    for (const std::wstring& p : r.product) WriteText(p, "product");
    for (const auto& [link, target] : r.links) made = made && MakeFolderLink(link, target);
    made = made && (!r.arrange || r.arrange(r));
  }
  const std::wstring program = r.at + (r.script ? L"kvUninstall.exe" : L"kvUninstallCli.exe");
  if (made) {
    EXPECT_TRUE(CopyProgram(r.script ? L"kvtesthelper.exe" : L"kvUninstallCli.exe", program));
    UninstallRecord h = {};
    Put(h.uninstallKey, L"KvHostile");
    Put(h.displayName, r.display);
    Put(h.menuFolder, r.menu);
    Put(h.installDir, r.dir);
    WriteText(r.at + L"kvUninstall.dat", RawRecord(h, r.listed, shortcuts).substr(0, r.cut));
    const ProcessResult run =
        Run(L"\"" + (r.launch.empty() ? program : r.launch) + L"\"" + (r.script ? L" uninstall" : L"") + r.options,
            r.cwd.empty() ? r.at : r.cwd);
    EXPECT_FALSE(run.timed_out);
    EXPECT_EQ(r.exit_code, run.exit_code) << run.output;
    if (!r.lines.empty()) {
      EXPECT_EQ(r.lines, Lines(run.output));
    }
    if (r.script && r.exit_code == 0) {
      EXPECT_TRUE(PollUntil([&] { return !Exists(kScript) && !Exists(program); }, 30000)) << "the script did not end";
    }
    for (const std::wstring& c : r.canaries) EXPECT_EQ("canary " + Utf8(c), ReadAll(c)) << "canary lost or changed";
    for (const std::vector<std::wstring>* list : {&r.product, &r.gone})
      for (const std::wstring& p : *list) EXPECT_FALSE(Exists(p)) << Utf8(p);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kKey)) << "the key goes whatever was refused";
    if (r.after) r.after();
  }
  for (const auto& [link, target] : r.links) RemoveLink(link);
  for (const std::vector<std::wstring>* list : {&r.canaries, &r.product, &r.trash})
    for (const std::wstring& p : *list) RemoveTree(p);
  for (const wchar_t* f : {L"kvUninstall.exe", L"kvUninstallCli.exe", L"kvUninstall.dat"}) RemoveTree(r.at + f);
  ::RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSession, L"PendingFileRenameOperations");
  DeleteRegTree(HKEY_LOCAL_MACHINE, kKey);
  RemoveTree(R);
  return made;
}

void RunRows(const std::vector<Row>& rows) {
  std::string missing;
  for (const Row& row : rows)
    if (!RunRow(row)) missing += std::string(" ") + row.name;
  if (!missing.empty()) GTEST_SKIP() << "this system cannot make what these rows need:" << missing;
}

TEST(Hostile, RecordsAndInstallations) {
  const std::wstring data = ShellDir(CSIDL_COMMON_APPDATA), windows = ShellDir(CSIDL_WINDOWS),
                     menus = ShellDir(CSIDL_PROGRAMS), desktop = ShellDir(CSIDL_COMMON_DESKTOPDIRECTORY),
                     home = Folder(L"USERPROFILE"), temp = Folder(L"TEMP"), pub = Folder(L"PUBLIC"), app = R + L"app\\",
                     elsewhere = R + L"elsewhere\\";
  std::wstring slashed = data, climb;
  std::replace(slashed.begin(), slashed.end(), L'\\', L'/');
  // From the all-users desktop up to the drive, then down to someone else's link.
  for (size_t i = 3; i + 1 < desktop.size(); ++i) climb += desktop[i] == L'\\' ? L"..\\" : L"";
  climb += L"..\\" + R.substr(3) + L"victim";
  wchar_t profiles[MAX_PATH] = {};
  DWORD size = MAX_PATH;
  ::GetProfilesDirectoryW(profiles, &size);
  const std::wstring other = std::wstring(profiles) + L"\\kvother\\";
  RunRows({
      // List mode: what the removal list names.
      {.name = "ListProgramData", .listed = {Entry(0, data)}, .canaries = {data + L"kv_canary.txt"}},
      {.name = "ListDriveRoot", .listed = {Entry(0, L"C:\\")}, .canaries = {L"C:\\kv_canary.txt"}},
      {.name = "ListCurrentDriveRoot", .listed = {Entry(0, L"\\")}, .canaries = {L"C:\\kv_canary.txt"}},
      {.name = "ListRelativeFolder",
       .listed = {Entry(0, L"rel\\")},
       .canaries = {R + L"cwd\\rel\\canary.txt"},
       .cwd = R + L"cwd\\"},
      {.name = "ListClimbingOut",
       .listed = {Entry(0, R + L"prod\\..\\")},
       .canaries = {R + L"canary.txt", R + L"prod\\a.txt"}},
      {.name = "ListDeviceForm",
       .listed = {Entry(0, L"\\\\?\\" + R + L"data\\")},
       .canaries = {R + L"data\\canary.txt"}},
      {.name = "ListForwardSlashes", .listed = {Entry(0, slashed)}, .canaries = {data + L"kv_canary.txt"}},
      {.name = "ListTrailingDot", .listed = {Entry(0, R + L"data.\\")}, .canaries = {R + L"data\\canary.txt"}},
      {.name = "ListFileClimbingOut",
       .listed = {Entry(1, R + L"prod\\..\\canary.txt")},
       .canaries = {R + L"canary.txt"}},
      {.name = "ListFileInsideWindows",
       .listed = {Entry(1, windows + L"kv_canary.dll")},
       .canaries = {windows + L"kv_canary.dll"}},
      {.name = "ListFolderIsALink",
       .listed = {Entry(0, R + L"listed\\")},
       .canaries = {R + L"target\\canary.txt"},
       .links = {{R + L"listed", R + L"target"}}},
      {.name = "ListRecordCutInsideLastPath",
       .listed = {Entry(1, R + L"prod\\a.txt"), Entry(0, R + L"parent\\product\\")},
       .canaries = {R + L"parent\\canary.txt"},
       .product = {R + L"prod\\a.txt"},
       .cut = 760 + 4 + 524 + 4 + (R.size() + 7) * sizeof(wchar_t)},  // after "parent\"
      // A listed folder goes but for folders named with a leading full stop, read-only files too; a
      // link in it goes as a link (here it cannot go at all), never followed and never counted.
      // Listed files count in the total but send nothing.
      {.name = "ListModeGoes",
       .listed = {Entry(0, R + L"data\\"), Entry(1, R + L"one.txt"), Entry(1, R + L"two.txt")},
       .canaries = {R + L"data\\.hidden\\5.txt", R + L"target\\keep.txt", R + L"kept.txt"},
       .product = {R + L"data\\1.txt", R + L"data\\2.txt", R + L"data\\deep\\3.txt", R + L"data\\deep\\deeper\\4.txt",
                   R + L"one.txt", R + L"two.txt"},
       .links = {{R + L"data\\link", R + L"target"}},
       .arrange =
           [](Row&) {
             return ::SetFileAttributesW((R + L"one.txt").c_str(), FILE_ATTRIBUTE_READONLY) &&
                    ::SetFileAttributesW((R + L"data\\deep\\3.txt").c_str(), FILE_ATTRIBUTE_READONLY);
           },
       .lines = {"sent 16", "sent 33", "sent 50", "sent 66", "posted 100", "done"}},
      // The header: another product's menu folder, wherever the record leads.
      {.name = "MenuFolderCutShort",
       .canaries = {menus + L"Brix\\canary.txt"},
       .menu = L"Brix Tools",
       .cut = 300 + 4 * sizeof(wchar_t),  // after "Brix"
       .trash = {menus + L"Brix"}},
      {.name = "MenuFolderIsALink",
       .canaries = {R + L"target\\canary.txt"},
       .links = {{menus + L"kv hostile menu", R + L"target"}},
       .menu = L"kv hostile menu"},
      {.name = "NameClimbsOut",
       .canaries = {R + L"victim.lnk"},
       .arrange = [](Row& r) { return r.display.size() < 50; },
       .display = climb},
      // Folder mode: the program lies in a folder no product may own; the record names another.
      {.name = "FolderAppData",
       .at = home + L"AppData\\",
       .dir = elsewhere,
       .canaries = {home + L"AppData\\Roaming\\kv_canary.txt", home + L"AppData\\Local\\kv_canary.txt"}},
      {.name = "FolderPublicProfile", .at = pub, .dir = elsewhere, .canaries = {pub + L"kv_canary.txt"}},
      {.name = "FolderOtherUsersProfile",
       .at = other,
       .dir = elsewhere,
       .canaries = {other + L"NTUSER.DAT"},
       .trash = {other}},
      {.name = "FolderTemp", .at = temp, .dir = elsewhere, .canaries = {temp + L"kv_canary.txt"}},
      {.name = "FolderDownloads",
       .at = home + L"Downloads\\",
       .dir = elsewhere,
       .canaries = {home + L"Downloads\\kv_canary.txt"}},
      {.name = "FolderInsideWindows",
       .at = windows + L"kvhostile\\",
       .dir = elsewhere,
       .canaries = {windows + L"kvhostile\\canary.txt"},
       .trash = {windows + L"kvhostile"}},
      {.name = "FolderReachedThroughALink",
       .at = R + L"target\\",
       .dir = elsewhere,
       .canaries = {R + L"target\\canary.txt"},
       .links = {{R + L"link", R + L"target"}},
       .launch = R + L"link\\kvUninstallCli.exe"},
      // The program's own folder goes, whatever folder the record names.
      {.name = "FolderRecordNamesASystemFolder", .dir = data, .product = {app + L"data\\file.bin"}},
      // The record stays through every progress message (a run cut short can be finished by starting
      // again) and goes by the end; the running program counts but stays, for the script.
      {.name = "FolderRecordGoesLast",
       .dir = elsewhere,
       .product = {app + L"data\\file.bin"},
       .gone = {app + L"kvUninstall.dat"},
       .lines = {"sent 33 +", "sent 66 +", "sent 100 +", "posted 100 -", "done"},
       .options = L" --watch \"" + app + L"kvUninstall.dat\"",
       .after = [app] { EXPECT_TRUE(Exists(app + L"kvUninstallCli.exe")); }},
  });
}

// The clean-up script takes the program and its emptied folder, and nothing it could be led to.
TEST(Hostile, Script) {
  const std::wstring app = R + L"app\\", elsewhere = R + L"elsewhere\\", cafe = R + L"Caf\u00E9\\";
  RunRows({
      {.name = "PercentInFolderName",
       .at = R + L"50%off\\",
       .dir = elsewhere,
       .canaries = {R + L"50off\\kvUninstall.exe"},  // where a lone "%" would lead del
       .product = {R + L"50%off\\data.bin"},
       .gone = {R + L"50%off"},
       .script = true},
      {.name = "InstallDirWithPercent",
       .dir = R + L"victim%X%\\",
       .canaries = {R + L"victim\\canary.txt"},
       .gone = {app},
       .script = true},
      {.name = "LinkLeftInside",
       .dir = elsewhere,
       .canaries = {R + L"target\\inner\\canary.txt"},
       .product = {app + L"data.bin"},
       .links = {{app + L"link", R + L"target"}},
       .script = true},
      // Whatever lies at the script's path, the script is a new file of ours.
      {.name = "PathIsAHardLink",
       .dir = elsewhere,
       .canaries = {R + L"victim.txt"},
       .gone = {app},
       .arrange = [](Row&) { return ::CreateHardLinkW(kScript, (R + L"victim.txt").c_str(), nullptr) != FALSE; },
       .script = true},
      {.name = "PathIsReadOnly",
       .dir = elsewhere,
       .gone = {app},
       .arrange =
           [](Row&) {
             WriteText(kScript, "theirs");
             return ::SetFileAttributesW(kScript, FILE_ATTRIBUTE_READONLY) != FALSE;
           },
       .script = true},
      {.name = "PathIsAnEmptyFolder",
       .dir = elsewhere,
       .gone = {app},
       .arrange = [](Row&) { return ::CreateDirectoryW(kScript, nullptr) != FALSE; },
       .script = true},
      // No script can be made: the restart removes the program, and the exit code says so.
      {.name = "PathIsAFolderInUse",
       .dir = elsewhere,
       .canaries = {std::wstring(kScript) + L"\\theirs.txt"},
       .script = true,
       .exit_code = kExitRestartNeeded,
       .trash = {kScript},
       .after = [app] { EXPECT_TRUE(PendingRestart(app + L"kvUninstall.exe")); }},
      {.name = "EndsOnlyItsOwnProcess",
       .dir = elsewhere,
       .gone = {app},
       .arrange =
           [](Row& r) {
             const std::wstring other = R + L"other\\kvUninstall.exe";
             WriteText(other, "");
             STARTUPINFOW si = {};
             si.cb = sizeof(si);
             PROCESS_INFORMATION pi = {};
             std::wstring command = L"\"" + other + L"\" sleep 60000";
             if (!CopyProgram(L"kvtesthelper.exe", other) ||
                 !::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                                   &si, &pi))
               return false;
             auto bystander = std::make_shared<kv::UniqueHandleKernel>(pi.hProcess);
             kv::UniqueHandleKernel thread(pi.hThread);
             r.after = [bystander] {
               EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), ::WaitForSingleObject(bystander->get(), 0)) << "ended";
               ::TerminateProcess(bystander->get(), 0);
               ::WaitForSingleObject(bystander->get(), 10000);
             };
             return true;
           },
       .script = true},
      // cmd reads a batch file in the OEM code page; on a Western system that differs from the ANSI
      // one exactly in letters like this.
      {.name = "PathOutsideTheAnsiOemOverlap", .at = cafe, .dir = elsewhere, .gone = {cafe}, .script = true},
      {.name = "ListModeEmptyFolderGoes",
       .listed = {Entry(1, app + L"kvUninstall.dat")},
       .gone = {app},
       .script = true},
      {.name = "ListModeFolderWithFilesStays",
       .canaries = {app + L"settings.ini"},
       .gone = {app + L"kvUninstall.exe"},
       .script = true},
  });
}

// Both Program Files folders of a 64-bit system; a 32-bit process is told only the (x86) ones.
TEST(Hostile, NativeView) {
  BOOL wow64 = FALSE;
  ASSERT_TRUE(ExpectedWow64() != 1 || (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64)) << "meant for WOW64";
  const std::wstring programs = Folder(L"ProgramW6432", CSIDL_PROGRAM_FILES),
                     common = Folder(L"CommonProgramW6432", CSIDL_PROGRAM_FILES_COMMON);
  RunRows({
      {.name = "FolderPrograms", .at = programs, .dir = R + L"elsewhere\\", .canaries = {programs + L"kv_canary.txt"}},
      {.name = "FolderCommon", .at = common, .dir = R + L"elsewhere\\", .canaries = {common + L"kv_canary.txt"}},
      {.name = "ListPrograms", .listed = {Entry(0, programs)}, .canaries = {programs + L"kv_canary.txt"}},
  });
}

// Run as administrator from a folder others may write to, the program loads no library from the
// current folder: a planted copy stays unloaded. Without the restriction it would load.
TEST(Hostile, NoLibraryFromTheCurrentFolder) {
  const std::wstring cwd = FreshDir(L"hostile\\library");
  ASSERT_TRUE(CopyProgram(L"zlib1.dll", cwd + L"kvplanted.dll"));
  EXPECT_EQ(0u, Helper(L"load kvplanted.dll", cwd).exit_code);
  EXPECT_EQ(5u, Helper(L"load kvplanted.dll --restricted", cwd).exit_code);
}

// A folder swapped for a link after the walk listed it and before it entered it: the listing
// still says "folder", so only a check on the folder itself can tell.
TEST(Hostile, FolderSwappedForALinkMidWalkIsNotEntered) {
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
