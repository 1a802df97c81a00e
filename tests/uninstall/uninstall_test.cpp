// The uninstall engine piece by piece: the record, the deletion guard, real runs of the engine
// (kvUninstallCli in an installation), the clean-up, the reports on the wire and the script.
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <set>

#include "tests/uninstall/uninstall_fixtures.h"
#include "uninstall/deletion_guard.h"
#include "uninstall/folder_sweep.h"
#include "uninstall/report.h"
#include "uninstall/self_delete.h"
#include "uninstall/uninstaller.h"
#include "util/handles.h"

namespace {

using namespace kvtest;
using kv::guard::Refusal;
using Strings = std::vector<std::string>;
namespace sd = kv::self_delete;

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return path;
}

template <typename T>
std::string Raw(const T& piece) {
  return std::string(reinterpret_cast<const char*>(&piece), sizeof(piece));
}

struct Parsed {
  UninstallRecord header = {};
  std::vector<UninstallEntry> removals, shortcuts;
  DWORD ms = 0;
};

const std::wstring kRecordPath = L"C:\\kvtest\\record\\kvUninstall.dat";

Parsed Read(const std::string& bytes) {
  const std::wstring path = FreshDir(L"record") + L"kvUninstall.dat";
  WriteText(path, bytes);
  Parsed p;
  kv::UniqueStdioFile f(_wfopen(path.c_str(), L"rb"));
  const DWORD start = ::GetTickCount();
  ReadRecordLists(f.get(), &p.header, &p.removals, &p.shortcuts);
  p.ms = ::GetTickCount() - start;
  return p;
}

// ---- the record -------------------------------------------------------------------------------

TEST(Record, ReaderTakesWhatIsThereAndNothingCut) {
  UninstallRecord h = {}, folder = {};
  Put(h.uninstallKey, L"Key");
  Put(h.displayName, L"Brix Demo");
  Put(h.menuFolder, L"Brix Tools");
  Put(folder.installDir, L"C:\\Prod\\");
  const UninstallEntry a = Entry(1, L"C:\\p\\a"), c = Entry(0, L"C:\\p\\parent\\product\\");
  const std::string list = Raw(h) + Raw(2) + Raw(a) + Raw(c) + Raw(1) + Raw(a);
  const size_t last_path = 764 + 524 + 4;  // where the second removal's path starts
  struct Row {
    const char* what;
    std::string bytes;
    const wchar_t* name;
    const wchar_t* menu;
    std::vector<std::wstring> removals;
    size_t shortcuts;
  };
  const Row rows[] = {
      {"header alone", Raw(h), L"Brix Demo", L"Brix Tools", {}, 0},
      {"whole list record", list, L"Brix Demo", L"Brix Tools", {L"C:\\p\\a", L"C:\\p\\parent\\product\\"}, 1},
      {"folder mode: 760 is the shortcut count", Raw(folder) + Raw(1) + Raw(c), L"", L"", {}, 1},
      {"an empty removal is skipped, the next kept; 3 shortcuts promised, 2 there",
       Raw(h) + Raw(3) + Raw(a) + Raw(Entry(1, L"")) + Raw(c) + Raw(3) + Raw(a) + Raw(c),
       L"Brix Demo",
       L"Brix Tools",
       {L"C:\\p\\a", L"C:\\p\\parent\\product\\"},
       3},
      {"negative counts", Raw(h) + Raw(-5) + Raw(-5), L"Brix Demo", L"Brix Tools", {}, 0},
      {"removal count beyond the file", Raw(h) + Raw(INT_MAX) + Raw(a), L"Brix Demo", L"Brix Tools", {L"C:\\p\\a"}, 0},
      {"shortcut count beyond the file", Raw(h) + Raw(0) + Raw(INT_MAX) + Raw(a), L"Brix Demo", L"Brix Tools", {}, 2},
      // Cut short: whatever the file ends inside is not taken.
      {"ends inside the display name", list.substr(0, 208), L"", L"", {}, 0},
      {"ends after the display name's terminator", list.substr(0, 220), L"Brix Demo", L"", {}, 0},
      {"ends inside the menu folder", list.substr(0, 308), L"Brix Demo", L"", {}, 0},
      {"ends inside the removal count", list.substr(0, 762), L"Brix Demo", L"Brix Tools", {}, 0},
      {"ends inside the last removal's path, after its parent",
       list.substr(0, last_path + 2 * std::wcslen(L"C:\\p\\parent\\")),
       L"Brix Demo",
       L"Brix Tools",
       {L"C:\\p\\a"},
       0},
      {"ends inside the shortcut",
       list.substr(0, list.size() - 100),
       L"Brix Demo",
       L"Brix Tools",
       {L"C:\\p\\a", L"C:\\p\\parent\\product\\"},
       0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const Parsed p = Read(row.bytes);
    EXPECT_EQ(row.name, SlotText(p.header.displayName));
    EXPECT_EQ(row.menu, SlotText(p.header.menuFolder));
    std::vector<std::wstring> removals;
    for (const UninstallEntry& e : p.removals) removals.push_back(SlotText(e.path));
    EXPECT_EQ(row.removals, removals);
    EXPECT_EQ(row.shortcuts, p.shortcuts.size());
    EXPECT_LT(p.ms, 2000u) << "a count beyond the file stops at its end";
    UninstallRecord header;
    ASSERT_TRUE(ReadRecordHeader(kRecordPath, &header));
    EXPECT_EQ(row.name, SlotText(header.displayName)) << "the dialog's reader agrees";
  }
  // A slot without a terminator is read to its edge and no further.
  for (wchar_t& ch : h.displayName) ch = L'A';
  EXPECT_EQ(std::wstring(50, L'A'), SlotText(Read(Raw(h)).header.displayName));
}

TEST(Record, WriterLayoutAndRefusals) {
  const std::wstring path = FreshDir(L"record_writer") + L"kvUninstall.dat";
  UninstallRecord h = {};
  Put(h.uninstallKey, L"ProdKey");
  Put(h.displayName, std::wstring(49, L'n'));  // the longest name that fits
  const UninstallEntry removals[] = {Entry(1, L"C:\\p\\a.txt"), Entry(0, L"C:\\p\\sub\\")};
  const UninstallEntry shortcut = Entry(0, L"C:\\p\\s.lnk");
  ASSERT_EQ(1, WriteUninstallRecord(path.c_str(), &h, removals, 2, &shortcut, 1));
  UninstallRecord clean = h;
  EXPECT_EQ(Raw(clean) + Raw(2) + Raw(removals[0]) + Raw(removals[1]) + Raw(1) + Raw(shortcut), ReadAll(path));
  Put(h.installDir, L"C:\\Program Files\\Prod\\");  // folder mode: no removal list at all
  ASSERT_EQ(1, WriteUninstallRecord(path.c_str(), &h, nullptr, 0, &shortcut, 1));
  EXPECT_EQ(Raw(h) + Raw(1) + Raw(shortcut), ReadAll(path));

  // Whatever does not fit, or what the uninstaller would refuse to delete, is refused.
  struct Row {
    const char* what;
    std::function<void(UninstallRecord&, std::vector<UninstallEntry>&, std::vector<UninstallEntry>&)> make;
  };
  const Row rows[] = {
      {"a name without terminator",
       [](auto& r, auto&, auto&) {
         for (wchar_t& ch : r.displayName) ch = L'x';
       }},
      {"a folder without backslash", [](auto&, auto& rm, auto&) { rm = {Entry(0, L"C:\\p\\sub")}; }},
      {"a removal list in folder mode",
       [](auto& r, auto& rm, auto&) {
         Put(r.installDir, L"C:\\Prod\\");
         rm = {Entry(1, L"C:\\Prod\\a")};
       }},
      {"a system folder", [](auto&, auto& rm, auto&) { rm = {Entry(0, L"C:\\ProgramData\\")}; }},
      {"a relative folder", [](auto&, auto& rm, auto&) { rm = {Entry(0, L"rel\\")}; }},
      {"a climb out", [](auto&, auto& rm, auto&) { rm = {Entry(0, L"C:\\p\\..\\..\\")}; }},
      {"a network path", [](auto&, auto& rm, auto&) { rm = {Entry(0, L"\\\\server\\share\\p\\")}; }},
      {"a file inside Windows", [](auto&, auto& rm, auto&) { rm = {Entry(1, L"C:\\windows\\system32\\kv.dll")}; }},
      {"a shortcut with a trailing dot", [](auto&, auto&, auto& sc) { sc = {Entry(1, L"C:\\p\\x.lnk.")}; }},
      {"a protected installation folder", [](auto& r, auto&, auto&) { Put(r.installDir, L"C:\\users\\"); }},
      {"a menu folder climbing out", [](auto& r, auto&, auto&) { Put(r.menuFolder, L"..\\Startup"); }},
  };
  for (const Row& row : rows) {
    UninstallRecord r = {};
    std::vector<UninstallEntry> rm, sc;
    row.make(r, rm, sc);
    RemoveTree(path);
    EXPECT_EQ(0, WriteUninstallRecord(path.c_str(), &r, rm.data(), static_cast<int>(rm.size()), sc.data(),
                                      static_cast<int>(sc.size())))
        << row.what;
    EXPECT_FALSE(Exists(path)) << row.what;
  }
  // Folder mode sweeps the record's own folder: it must be one a product may own.
  Put(h.installDir, L"C:\\kvtest\\Prod\\");
  EXPECT_EQ(0, WriteUninstallRecord(L"C:\\ProgramData\\kvUninstall.dat", &h, nullptr, 0, nullptr, 0));
}

// ---- the deletion guard -------------------------------------------------------------------------

TEST(DeletionGuard, Verdicts) {
  const std::wstring product = FreshDir(L"guard\\Prod"), inner = FreshDir(L"guard\\Prod\\inner");
  const std::wstring profile = ShellFolder(CSIDL_PROFILE);
  struct Row {
    std::wstring path;
    bool folder;
    Refusal refusal;
  };
  const Row rows[] = {
      {product, true, Refusal::kNone},
      {L"c:\\KVTEST\\guard\\prod", true, Refusal::kNone},
      {product + L"a.txt", false, Refusal::kNone},
      {product + L"absent.txt", false, Refusal::kNone},
      {L"", true, Refusal::kNotAbsolute},
      {L"\\Prod\\", true, Refusal::kNotAbsolute},
      {L"rel\\", true, Refusal::kNotAbsolute},
      {L"C:Prod\\", true, Refusal::kNotAbsolute},
      {L"\\\\server\\share\\Prod\\", true, Refusal::kForeignForm},
      {L"\\\\?\\C:\\kvtest\\", true, Refusal::kForeignForm},
      {L"C:/ProgramData/", true, Refusal::kForeignForm},
      {L"C:\\Prod\\\\sub\\", true, Refusal::kForeignForm},
      {L"C:\\Prod\\a.txt:stream", false, Refusal::kForeignForm},
      {L"C:\\Prod\\*.*", false, Refusal::kForeignForm},
      {L"C:\\Prod\\NUL.txt", false, Refusal::kForeignForm},
      {product + L"..\\", true, Refusal::kDotPiece},
      {product + L".\\a.txt", false, Refusal::kDotPiece},
      {L"C:\\ProgramData.\\", true, Refusal::kDotPiece},
      {L"C:\\ProgramData \\", true, Refusal::kDotPiece},
      {product + L"absent\\", true, Refusal::kUnresolved},
      {product + L"absent\\a.txt", false, Refusal::kUnresolved},
      {L"C:\\", true, Refusal::kRoot},
      {L"C:\\kv_guard_loose.txt", false, Refusal::kRoot},
      {ShellFolder(CSIDL_WINDOWS), true, Refusal::kWindows},
      {ShellFolder(CSIDL_SYSTEM) + L"\\drivers\\", true, Refusal::kWindows},
      {ShellFolder(CSIDL_SYSTEM) + L"\\kernel32.dll", false, Refusal::kWindows},
      {ShellFolder(CSIDL_PROGRAM_FILES), true, Refusal::kWellKnown},
      {ShellFolder(CSIDL_APPDATA), true, Refusal::kWellKnown},
      {ShellFolder(CSIDL_COMMON_APPDATA), true, Refusal::kWellKnown},
      {ShellFolder(CSIDL_PROGRAMS), true, Refusal::kWellKnown},
      {profile, true, Refusal::kProfileRoot},
      {profile + L"\\AppData", true, Refusal::kAboveWellKnown},
  };
  for (const Row& row : rows) {
    const kv::guard::Verdict v = row.folder ? kv::guard::CheckFolder(row.path) : kv::guard::CheckFile(row.path);
    EXPECT_EQ(row.refusal, v.refusal) << Utf8(row.path);
    if (v && row.folder) {
      EXPECT_TRUE(kv::guard::SamePath(v.resolved, product)) << "final form, backslash";
    }
  }
  EXPECT_TRUE(kv::guard::CheckFolder(inner, product));
  EXPECT_EQ(Refusal::kOutside, kv::guard::CheckFolder(product, inner).refusal);
  EXPECT_EQ(Refusal::kOutside, kv::guard::CheckFolder(product, product).refusal);
  // An installer's planned paths: the part that exists decides.
  EXPECT_TRUE(kv::guard::CheckPlannedFile(product + L"not\\yet\\a.txt"));
  EXPECT_EQ(Refusal::kWindows, kv::guard::CheckPlannedFolder(ShellFolder(CSIDL_WINDOWS) + L"\\not\\yet\\").refusal);
  for (const wchar_t* name : {L"Prod", L"Brix Demo.lnk"}) EXPECT_TRUE(kv::guard::IsPlainName(name));
  for (const wchar_t* name : {L"", L"..", L"a\\b", L"a/b", L"x.", L"CON", L"a:b"})
    EXPECT_FALSE(kv::guard::IsPlainName(name)) << Utf8(name);
  if (MakeFolderLink(product + L"link", FreshDir(L"guard\\target"))) {
    EXPECT_EQ(Refusal::kLink, kv::guard::CheckFolder(product + L"link\\").refusal);
  }
}

// XP and Vista know neither the basic listing nor the large fetch: every find would fail there.
TEST(FolderWalk, ListingModePerSystem) {
  const std::tuple<DWORD, DWORD, bool> rows[] = {{5, 0, false}, {5, 1, false}, {6, 0, false},
                                                 {6, 1, true},  {6, 2, true},  {10, 0, true}};
  for (const auto& [major, minor, fast] : rows) {
    const kv::sweep::FindMode mode = kv::sweep::FindModeFor(major, minor);
    EXPECT_EQ(fast ? FindExInfoBasic : FindExInfoStandard, mode.level) << major << "." << minor;
    EXPECT_EQ(fast ? FIND_FIRST_EX_LARGE_FETCH : 0u, mode.flags) << major << "." << minor;
  }
}

// ---- runs of the engine -------------------------------------------------------------------------

TEST(EngineRun, ProgressAndWhatGoes) {
  struct Row {
    const char* what;
    std::function<void(Install&, const std::wstring& data)> arrange;
    std::wstring options;
    Strings lines;
    std::vector<std::wstring> gone, stay;  // below the data folder, or the installation for "@"
  };
  const Row rows[] = {
      // 4 files below the listed folder and 2 listed files: 6 in all; listed files send nothing.
      {"list mode",
       [](Install& in, const std::wstring& d) {
         in.removals = {Entry(0, d + L"folder\\"), Entry(1, d + L"one.txt"), Entry(1, d + L"two.txt")};
       },
       L"",
       {"sent 16", "sent 33", "sent 50", "sent 66", "posted 100"},
       {L"folder", L"one.txt", L"two.txt"},
       {L"kept.txt", L"@kvUninstall.dat"}},
      // Three files: the data, the record and the running program, which cannot go yet.
      {"folder mode",
       [](Install& in, const std::wstring&) {
         WriteText(in.dir + L"data\\f.bin", "x");
         in.FolderMode();
       },
       L"",
       {"sent 33", "sent 66", "sent 100", "posted 100"},
       {L"@data", L"@kvUninstall.dat"},
       {L"@kvUninstallCli.exe"}},
      {"full-stop folders stay, read-only files go",
       [](Install& in, const std::wstring& d) {
         ::SetFileAttributesW((d + L"one.txt").c_str(), FILE_ATTRIBUTE_READONLY);
         ::SetFileAttributesW((d + L"folder\\deep\\3.txt").c_str(), FILE_ATTRIBUTE_READONLY);
         WriteText(d + L"folder\\.hidden\\5.txt", "x");
         in.removals = {Entry(0, d + L"folder\\"), Entry(1, d + L"one.txt")};
       },
       L"",
       {"sent 20", "sent 40", "sent 60", "sent 80", "posted 100"},
       {L"folder\\deep", L"one.txt"},
       {L"folder\\.hidden\\5.txt"}},
      {"on the caller's thread no final post",
       [](Install& in, const std::wstring& d) {
         in.removals = {Entry(1, d + L"one.txt"), Entry(0, d + L"folder\\deep\\")};
       },
       L" --sync",
       {"sent 33", "sent 66"},
       {L"one.txt", L"folder\\deep"},
       {}},
      {"nothing to count",
       [](Install& in, const std::wstring& d) {
         in.removals = {Entry(1, d + L"one.txt"), Entry(0, d + L"absent\\")};
       },
       L"",
       {"posted 100"},
       {L"one.txt"},
       {}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Install in(L"engine");
    const std::wstring data = FreshDir(L"engine_data");
    for (const wchar_t* f : {L"folder\\1.txt", L"folder\\2.txt", L"folder\\deep\\3.txt", L"folder\\deep\\deeper\\4.txt",
                             L"one.txt", L"two.txt", L"kept.txt"})
      WriteText(data + f, "x");
    row.arrange(in, data);
    EXPECT_EQ(row.lines, in.Run(row.options));
    auto where = [&](const std::wstring& p) { return p[0] == L'@' ? in.dir + p.substr(1) : data + p; };
    for (const std::wstring& p : row.gone) EXPECT_FALSE(Exists(where(p))) << Utf8(p);
    for (const std::wstring& p : row.stay) EXPECT_TRUE(Exists(where(p))) << Utf8(p);
  }
  // Without a record: the engine's own 100 and the thread's; on the caller's thread the engine's.
  Install none(L"engine_norecord");
  for (const auto& [options, lines] :
       {std::pair(L"", Strings{"posted 100", "posted 100"}), std::pair(L" --sync", Strings{"posted 100"})}) {
    Strings got = Lines(kvtest::Run(L"\"" + none.dir + L"kvUninstallCli.exe\"" + options, none.dir).output);
    got.pop_back();  // "done"
    EXPECT_EQ(lines, got);
  }
}

TEST(EngineRun, LinksGoAsLinksTargetsStay) {
  const std::wstring target = FreshDir(L"links_target");
  WriteText(target + L"inner\\keep.txt", "keep");
  Install list(L"links_list"), folder(L"links_install");
  const std::wstring listed = FreshDir(L"links_listed");
  WriteText(listed + L"a.txt", "x");
  WriteText(listed + L"sub\\b.txt", "x");
  if (!MakeFolderLink(listed + L"sub\\link", target) || !MakeFolderLink(folder.dir + L"link", target))
    GTEST_SKIP() << "no folder links here";
  list.removals = {Entry(0, listed)};
  EXPECT_EQ((Strings{"sent 50", "sent 100", "posted 100"}), list.Run());  // a link adds no file
  folder.FolderMode();
  EXPECT_EQ((Strings{"sent 50", "sent 100", "posted 100"}), folder.Run());
  EXPECT_EQ("keep", ReadAll(target + L"inner\\keep.txt"));
  // Wine cannot remove a link to a folder through any Windows call: there the links stay.
  for (const std::wstring& link : {listed + L"sub\\link", folder.dir + L"link"})
    if (Exists(link)) {
      EXPECT_FALSE(::RemoveDirectoryW(link.c_str())) << "a removable link was left";
    }
}

// ---- the clean-up -------------------------------------------------------------------------------

const std::wstring kUninstallRoot = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

TEST(Cleanup, KeyOnlyWithoutSubkeysAlwaysOne) {
  CKvUninstaller engine;
  struct Row {
    const wchar_t* key;
    const wchar_t* sub;  // made below the key
    bool gone;
  };
  for (const Row& row : {Row{L"KvClearPlain", nullptr, true}, Row{L"KvClearNested", L"\\Patches", false}}) {
    SetRegText(HKEY_LOCAL_MACHINE, kUninstallRoot + row.key + (row.sub ? row.sub : L""), L"n", L"v");
    EXPECT_EQ(1, engine.ClearReg(row.key));
    EXPECT_EQ(row.gone, !KeyExists(HKEY_LOCAL_MACHINE, kUninstallRoot + row.key)) << Utf8(row.key);
    EXPECT_EQ(1, engine.ClearReg(row.key)) << "gone or not: 1";
    DeleteRegTree(HKEY_LOCAL_MACHINE, kUninstallRoot + row.key);
  }
  EXPECT_EQ(1, engine.ClearReg(L""));
  EXPECT_EQ(1, engine.ClearReg(nullptr));
  EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallRoot.substr(0, kUninstallRoot.size() - 1)));
}

TEST(Cleanup, KeyMenuFolderAllUsersLinkAndListedShortcuts) {
  kv::ComInit com;
  const std::wstring product = L"KvCleanupProd";
  SetRegText(HKEY_LOCAL_MACHINE, kUninstallRoot + product, L"DisplayName", product);
  const std::wstring menu = ShellFolder(CSIDL_PROGRAMS) + L"\\KvCleanup Tools\\";
  const std::wstring all_users = ShellFolder(CSIDL_COMMON_DESKTOPDIRECTORY) + L"\\";
  const std::wstring own = ShellFolder(CSIDL_DESKTOPDIRECTORY) + L"\\", links = FreshDir(L"cleanup_links");
  RemoveTree(menu);
  for (const std::wstring& f :
       {menu + L"readme.txt", menu + L"sub\\notes.txt", menu + L".keep\\kept.txt", all_users + product + L".lnk",
        own + product + L".lnk", links + L"listed1.lnk", links + L"listed2.lnk", links + L"unlisted.lnk"})
    WriteText(f, "link");
  Install in(L"cleanup");
  WriteText(in.dir + L"a.bin", "x");
  in.removals = {Entry(1, in.dir + L"a.bin")};
  in.shortcuts = {Entry(1, links + L"listed1.lnk"), Entry(0, links + L"listed2.lnk"), Entry(1, L"")};
  Put(in.header.uninstallKey, product);
  Put(in.header.displayName, product);
  Put(in.header.menuFolder, L"KvCleanup Tools");
  // A listed file counts in the total but sends nothing: the menu folder's first file makes the
  // 100, and the rest go past it unsent.
  EXPECT_EQ((Strings{"sent 100", "posted 100"}), in.Run());
  EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallRoot + product));
  // Listed shortcuts go whatever isFile says; the user's own desktop link stays.
  for (const std::wstring& gone : {menu + L"readme.txt", menu + L"sub", all_users + product + L".lnk",
                                   links + L"listed1.lnk", links + L"listed2.lnk"})
    EXPECT_FALSE(Exists(gone)) << Utf8(gone);
  for (const std::wstring& stays : {menu + L".keep\\kept.txt", own + product + L".lnk", links + L"unlisted.lnk"})
    EXPECT_TRUE(Exists(stays)) << Utf8(stays);
  ::DeleteFileW((own + product + L".lnk").c_str());
  RemoveTree(menu);
}

// ---- reports on the wire ------------------------------------------------------------------------

constexpr wchar_t kEndpoint[] = L"http://127.0.6.6/report.asp";

std::string StoredUid() { return Utf8(RegText(HKEY_CURRENT_USER, L"SOFTWARE\\Quarell", L"UID")); }

// The query of a report: each key in its place, the stored identifier, the tick count between
// before and after whatever the uptime (a tick count wraps after 49.7 days).
void ExpectReport(const HttpRequest& r, const std::string& type, const std::string& value, DWORD before) {
  const DWORD after = ::GetTickCount();
  std::smatch m;
  ASSERT_TRUE(
      std::regex_match(r.target, m, std::regex(".*/report\\.asp\\?type=(.*)&value=(.*)&uuid=(.+)&sign=(-?[0-9]+)")))
      << r.target;
  EXPECT_EQ("GET", r.method);
  EXPECT_EQ(type, m[1].str());
  EXPECT_EQ(value, m[2].str());
  EXPECT_EQ(StoredUid(), m[3].str());
  EXPECT_LE(static_cast<DWORD>(std::stoll(m[4].str())) - before, after - before) << "the tick count";
}

TEST(Reports, DoReportOnTheWire) {
  Wire server("127.0.6.6", 80);
  ASSERT_TRUE(server.ready()) << "port 80 on 127.0.6.6";
  DoReport(kEndpoint, std::wstring(30, L't').c_str(), L"v");  // none of these three is sent
  DoReport(nullptr, L"open", L"v");
  DoReport(kEndpoint, nullptr, L"v");
  struct Row {
    std::wstring type, value;
    bool null_value;
    std::string type_sent, value_sent;
  };
  const Row rows[] = {
      {kReportTypeOpen, kReportValueOpen, false, "open", "Brix_Uninstall"},
      {L"x&y", L"栎禾软件 演示版", false, "x&y", "%e6%a0%8e%e7%a6%be%e8%bd%af%e4%bb%b6%20%e6%bc%94%e7%a4%ba%e7%89%88"},
      {std::wstring(29, L't'), L"v", false, std::string(29, 't'), "v"},
      {L"long", std::wstring(99, L'v'), false, "long", std::string(99, 'v')},
      {L"long", std::wstring(100, L'v'), false, "long", ""},
      {L"novalue", L"", true, "novalue", ""},
  };
  for (const Row& row : rows) {
    server.Clear();
    const DWORD before = ::GetTickCount();
    DoReport(kEndpoint, row.type.c_str(), row.null_value ? nullptr : row.value.c_str());
    ASSERT_TRUE(WaitForReports(15000));
    const std::vector<HttpRequest> sent = server.Requests();
    ASSERT_EQ(1u, sent.size()) << row.type_sent;
    EXPECT_EQ("Mozilla/5.0 (Windows NT 6.1)", sent[0].Header("User-Agent"));
    ExpectReport(sent[0], row.type_sent, row.value_sent, before);
  }
  server.Clear();
  for (int i = 0; i < 5; ++i) DoReport(kEndpoint, L"burst", std::to_wstring(i).c_str());
  ASSERT_TRUE(WaitForReports(15000));
  std::multiset<std::string> values;
  for (const HttpRequest& r : server.Requests()) values.insert(QueryValue(r.target, "value"));
  EXPECT_EQ((std::multiset<std::string>{"0", "1", "2", "3", "4"}), values);
}

// The engine's "uninstall" report through the loopback proxy of proxy.dat, before it deletes;
// without a record, none.
TEST(Reports, EngineReportsEachRunBeforeDeleting) {
  Wire proxy;
  ASSERT_TRUE(proxy.ready());
  Install in(L"report_run");
  WriteText(in.dir + L"proxy.dat", proxy.ProxyDat());
  WriteText(in.dir + L"data\\file.txt", "x");
  kvtest::Run(L"\"" + in.dir + L"kvUninstallCli.exe\"", in.dir);
  EXPECT_TRUE(proxy.Requests().empty()) << "no record, no report";
  Put(in.header.displayName, L"Brix Demo");
  in.FolderMode();
  const DWORD before = ::GetTickCount();
  in.Run();
  ASSERT_TRUE(proxy.WaitForRequests(1, 15000));
  EXPECT_FALSE(Exists(in.dir + L"data")) << "the run went on";
  ExpectReport(proxy.Requests()[0], "uninstall", "Brix%20Demo", before);
}

// ---- the clean-up script ------------------------------------------------------------------------

std::string Bytes(const std::wstring& text, UINT code_page) {
  std::string out = "unchanged";
  EXPECT_TRUE(sd::ToCodePage(text, code_page, &out)) << Utf8(text);
  return out;
}

TEST(Script, TextAndBytes) {
  const std::wstring sys = L"C:\\windows\\system32";
  const std::string head = "@ echo off\r\n\"C:\\windows\\system32\\taskkill.exe\" /pid 4242 /f\r\n";
  const std::tuple<const wchar_t*, const wchar_t*, std::string> rows[] = {
      {L"C:\\Program Files\\Prod\\kvUninstall.exe", L"",
       head + "del \"C:\\Program Files\\Prod\\kvUninstall.exe\"\r\ndel %0"},
      {L"C:\\Program Files\\Prod\\kvUninstall.exe", L"C:\\Program Files\\Prod\\",
       head + "del \"C:\\Program Files\\Prod\\kvUninstall.exe\"\r\nrd \"C:\\Program Files\\Prod\\\"\r\ndel %0"},
      // cmd expands "%" even inside quotes: each is doubled to stay one.
      {L"C:\\50%off\\x.exe", L"C:\\50%off\\", head + "del \"C:\\50%%off\\x.exe\"\r\nrd \"C:\\50%%off\\\"\r\ndel %0"},
  };
  for (const auto& [exe, folder, text] : rows)
    for (UINT cp : {936u, 1252u}) EXPECT_EQ(text, Bytes(sd::ScriptText(sys, 4242, exe, folder), cp)) << cp;
  // cmd by its full path, without AutoRun, never through the shell's file association.
  EXPECT_EQ(L"\"C:\\windows\\system32\\cmd.exe\" /d /q /v:off /c c:\\clear.bat",
            sd::ScriptCommandLine(sys, L"c:\\clear.bat"));
  // No stand-ins: a character the code page lacks fails the whole text ("?" is a wildcard to del).
  EXPECT_EQ("C:\\\xB2\xE2\xCA\xD4", Bytes(L"C:\\\u6D4B\u8BD5", 936));
  EXPECT_EQ("C:\\Caf\x82", Bytes(L"C:\\Caf\u00E9", 437));  // the console's code page of the West
  std::string out = "unchanged";
  for (const auto& [text, cp] :
       {std::pair(L"C:\\\u6D4B\u8BD5", 1252u), std::pair(L"C:\\\uD55C", 936u), std::pair(L"C:\\\u0101", 1252u)})
    EXPECT_FALSE(sd::ToCodePage(text, cp, &out)) << Utf8(text);
  EXPECT_EQ("unchanged", out);
  EXPECT_EQ(::GetOEMCP(), sd::ScriptCodePage());
  // A path the code page cannot hold goes by its short name, or not at all.
  EXPECT_EQ(L"", sd::SpellablePath(L"C:\\kvtest\\absent_\uD55C\\x.exe", 936));
  const std::wstring dir = FreshDir(L"sd_spell_\uD55C");
  wchar_t short_name[MAX_PATH] = {};
  if (::GetShortPathNameW(dir.c_str(), short_name, MAX_PATH) && std::wstring(short_name) != dir) {
    EXPECT_EQ(short_name, sd::SpellablePath(dir, 936));
  }
}

// The script is always a new file of ours, whatever lay at its path.
TEST(Script, FreshFileWhateverWasThere) {
  const std::wstring dir = FreshDir(L"sd_fresh"), path = dir + L"clear.bat";
  const std::pair<std::function<void()>, bool> rows[] = {
      {[] {}, true},
      {[&] {
         WriteText(path, "theirs");
         ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
       },
       true},
      {[&] {
         WriteText(dir + L"victim.txt", "victim");
         ::CreateHardLinkW(path.c_str(), (dir + L"victim.txt").c_str(), nullptr);
       },
       true},
      {[&] { ::CreateDirectoryW(path.c_str(), nullptr); }, true},
      {[&] { WriteText(path + L"\\theirs.txt", "theirs"); }, false},
  };
  for (const auto& [before, written] : rows) {
    before();
    EXPECT_EQ(written, sd::WriteFreshScript(path, "@ echo off\r\ndel %0"));
    if (written) {
      EXPECT_EQ("@ echo off\r\r\ndel %0", ReadAll(path));  // as text mode writes it
    }
    ::DeleteFileW(path.c_str());
  }
  EXPECT_EQ("victim", ReadAll(dir + L"victim.txt"));
  EXPECT_EQ("theirs", ReadAll(path + L"\\theirs.txt"));
  RemoveTree(path);
}

// Readable and writable by administrators and the system only.
TEST(Script, IfSupportedOnlyAdministratorsAndSystemMayTouchIt) {
  const std::wstring path = FreshDir(L"sd_acl") + L"clear.bat";
  ASSERT_TRUE(sd::WriteFreshScript(path, "@ echo off"));
  PACL dacl = nullptr;
  kv::UniqueLocal descriptor;
  ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                          reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
  std::vector<std::wstring> trustees;
  for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    kv::UniqueLocal sid;
    if (::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
        ::ConvertSidToStringSidW(&ace->SidStart, reinterpret_cast<LPWSTR*>(sid.put())))
      trustees.push_back(static_cast<const wchar_t*>(sid.get()));
  }
  // Wine answers with an access list of its own making, whatever the file was created with.
  if (std::find(trustees.begin(), trustees.end(), L"S-1-5-32-544") == trustees.end())
    GTEST_SKIP() << "this platform does not keep the access list a file is created with";
  EXPECT_EQ((std::vector<std::wstring>{L"S-1-5-32-544", L"S-1-5-18"}), trustees);
}

}  // namespace
