// The engine's pieces on their own (record, deletion guard, folder listing, reports, the script's
// spelling), then installations run to their end.
#include <windows.h>

#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>
#include <userenv.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tests/support/kvtest.h"
#include "uninstall/deletion_guard.h"
#include "uninstall/folder_sweep.h"
#include "uninstall/record.h"
#include "uninstall/report.h"
#include "uninstall/self_delete.h"
#include "uninstall/uninstaller.h"
#include "util/handles.h"

namespace {

using namespace kvtest;
using kv::guard::Refusal;
namespace sd = kv::self_delete;

// ---- records as bytes, written as they are (a hostile or broken writer checks nothing) --------

template <size_t N>
void Put(wchar_t (&slot)[N], const std::wstring& text) {
  std::memset(slot, 0, sizeof(slot));
  std::memcpy(slot, text.data(), std::min(text.size(), N) * sizeof(wchar_t));
}

UninstallEntry Entry(int is_file, const std::wstring& path) {
  UninstallEntry e = {};
  e.isFile = is_file;
  Put(e.path, path);
  return e;
}

template <typename T>
std::string Raw(const T& piece) {
  return std::string(reinterpret_cast<const char*>(&piece), sizeof(piece));
}

// The header, the removal list (list mode only), the shortcut list: each list after its count.
std::string RawRecord(const UninstallRecord& header, const std::vector<UninstallEntry>& removals,
                      const std::vector<UninstallEntry>& shortcuts) {
  std::string bytes = Raw(header);
  for (const std::vector<UninstallEntry>* list : {&removals, &shortcuts}) {
    if (list == &removals && header.installDir[0] != L'\0') continue;
    bytes += Raw(static_cast<int>(list->size()));
    for (const UninstallEntry& e : *list) bytes += Raw(e);
  }
  return bytes;
}

// A folder of the shell, with a trailing backslash.
std::wstring ShellDir(int csidl) {
  wchar_t path[MAX_PATH] = {};
  ::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
  return std::wstring(path) + L"\\";
}

// ---- the record -------------------------------------------------------------------------------

// Whatever the file ends inside (a slot before its terminator, a count, an entry) is not taken:
// it would be the start of a longer text, such as the product folder's parent.
TEST(Record, ReaderTakesWhatIsThereAndNothingCut) {
  const std::wstring path = FreshDir(L"record") + L"kvUninstall.dat";
  const std::wstring n = L"Brix Demo", m = L"Brix Tools", ap = L"C:\\p\\a", cp = L"C:\\p\\parent\\product\\";
  UninstallRecord h = {}, folder = {}, unended;
  Put(h.uninstallKey, L"Key");
  Put(h.displayName, n);
  Put(h.menuFolder, m);
  Put(folder.installDir, L"C:\\Prod\\");
  unended = h;
  for (wchar_t& ch : unended.displayName) ch = L'A';
  const UninstallEntry a = Entry(1, ap), c = Entry(0, cp);
  const std::string list = Raw(h) + Raw(2) + Raw(a) + Raw(c) + Raw(1) + Raw(a);
  const size_t last_path = 764 + 524 + 4;  // where the second removal's path starts
  struct Row {
    const char* what;
    std::string bytes;
    std::wstring name, menu;
    std::vector<std::wstring> removals;
    size_t shortcuts;
  };
  const Row rows[] = {
      {"whole list record", list, n, m, {ap, cp}, 1},
      {"folder mode: 760 is the shortcut count", Raw(folder) + Raw(1) + Raw(c), L"", L"", {}, 1},
      {"a name without terminator ends at its slot's edge", Raw(unended), std::wstring(50, L'A'), m, {}, 0},
      {"an empty removal is skipped, the next kept; 3 shortcuts promised, 2 there",
       Raw(h) + Raw(3) + Raw(a) + Raw(Entry(1, L"")) + Raw(c) + Raw(3) + Raw(a) + Raw(c),
       n,
       m,
       {ap, cp},
       3},
      {"negative counts", Raw(h) + Raw(-5) + Raw(-5), n, m, {}, 0},
      {"removal count beyond the file", Raw(h) + Raw(INT_MAX) + Raw(a), n, m, {ap}, 0},
      {"shortcut count beyond the file", Raw(h) + Raw(0) + Raw(INT_MAX) + Raw(a), n, m, {}, 2},
      {"ends inside the display name", list.substr(0, 208), L"", L"", {}, 0},
      {"ends after the display name's terminator", list.substr(0, 220), n, L"", {}, 0},
      {"ends inside the menu folder", list.substr(0, 308), n, L"", {}, 0},
      {"ends inside the removal count", list.substr(0, 762), n, m, {}, 0},
      {"ends inside the last removal's path, after C:\\p\\parent\\", list.substr(0, last_path + 2 * 12), n, m, {ap}, 0},
      {"ends inside the shortcut", list.substr(0, list.size() - 100), n, m, {ap, cp}, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    WriteText(path, row.bytes);
    UninstallRecord header;
    std::vector<UninstallEntry> removals, shortcuts;
    kv::UniqueStdioFile f(_wfopen(path.c_str(), L"rb"));
    const DWORD start = ::GetTickCount();
    ReadRecordLists(f.get(), &header, &removals, &shortcuts);
    EXPECT_LT(::GetTickCount() - start, 2000u) << "a count beyond the file stops at its end";
    EXPECT_EQ(row.name, SlotText(header.displayName));
    EXPECT_EQ(row.menu, SlotText(header.menuFolder));
    std::vector<std::wstring> paths;
    for (const UninstallEntry& e : removals) paths.push_back(SlotText(e.path));
    EXPECT_EQ(row.removals, paths);
    EXPECT_EQ(row.shortcuts, shortcuts.size());
    ASSERT_TRUE(ReadRecordHeader(path, &header));
    EXPECT_EQ(row.name, SlotText(header.displayName)) << "the dialog's reader agrees";
  }
}

// What does not fit, or what the uninstaller would refuse to delete, is refused.
TEST(Record, WriterRefusals) {
  struct Row {
    const char* what;
    std::wstring name{}, dir{}, menu{};
    std::vector<UninstallEntry> removals{}, shortcuts{};
    std::wstring at = L"C:\\kvtest\\record_writer\\kvUninstall.dat";
    int written = 0;
  };
  const Row rows[] = {
      {.what = "the longest name that fits", .name = std::wstring(49, L'n'), .written = 1},
      {.what = "a name without terminator", .name = std::wstring(50, L'x')},
      {.what = "a folder without backslash", .removals = {Entry(0, L"C:\\p\\sub")}},
      {.what = "a removal list in folder mode", .dir = L"C:\\Prod\\", .removals = {Entry(1, L"C:\\Prod\\a")}},
      {.what = "a system folder", .removals = {Entry(0, L"C:\\ProgramData\\")}},
      {.what = "a shortcut with a trailing dot", .shortcuts = {Entry(1, L"C:\\p\\x.lnk.")}},
      {.what = "a protected installation folder", .dir = L"C:\\users\\"},
      {.what = "a menu folder climbing out", .menu = L"..\\Startup"},
      {.what = "folder mode sweeps the record's folder",
       .dir = L"C:\\kvtest\\Prod\\",
       .at = L"C:\\ProgramData\\kvUninstall.dat"},
  };
  FreshDir(L"record_writer");
  for (const Row& row : rows) {
    UninstallRecord r = {};
    Put(r.displayName, row.name);
    Put(r.installDir, row.dir);
    Put(r.menuFolder, row.menu);
    RemoveTree(row.at);
    EXPECT_EQ(row.written,
              WriteUninstallRecord(row.at.c_str(), &r, row.removals.data(), static_cast<int>(row.removals.size()),
                                   row.shortcuts.data(), static_cast<int>(row.shortcuts.size())))
        << row.what;
    EXPECT_EQ(row.written == 1, Exists(row.at)) << row.what;
  }
}

// ---- the deletion guard -------------------------------------------------------------------------

// Each refusal on its own; the real runs show the engine heeding them.
TEST(DeletionGuard, Verdicts) {
  const std::wstring product = FreshDir(L"guard\\Prod"), inner = FreshDir(L"guard\\Prod\\inner");
  const std::tuple<std::wstring, bool, Refusal> rows[] = {
      {product, true, Refusal::kNone},
      {L"c:\\KVTEST\\guard\\prod", true, Refusal::kNone},
      {product + L"absent.txt", false, Refusal::kNone},
      {L"", true, Refusal::kNotAbsolute},
      {L"C:Prod\\", true, Refusal::kNotAbsolute},
      {L"kv\\", true, Refusal::kNotAbsolute},
      {L"\\\\server\\share\\Prod\\", true, Refusal::kForeignForm},
      {L"C:\\Prod\\\\sub\\", true, Refusal::kForeignForm},
      {L"C:\\Prod\\a.txt:stream", false, Refusal::kForeignForm},
      {L"C:\\Prod\\*.*", false, Refusal::kForeignForm},
      {L"C:\\Prod\\NUL.txt", false, Refusal::kForeignForm},
      {product + L".\\a.txt", false, Refusal::kDotPiece},
      {product + L"..\\", true, Refusal::kDotPiece},
      {L"C:\\ProgramData \\", true, Refusal::kDotPiece},
      {product + L"absent\\", true, Refusal::kUnresolved},
      {product + L"absent\\a.txt", false, Refusal::kUnresolved},
      {L"C:\\kv_guard_loose.txt", false, Refusal::kRoot},
      {ShellDir(CSIDL_WINDOWS), true, Refusal::kWindows},
      {ShellDir(CSIDL_WINDOWS) + L"kv.dll", false, Refusal::kWindows},
      {ShellDir(CSIDL_APPDATA), true, Refusal::kWellKnown},
      {ShellDir(CSIDL_PROFILE), true, Refusal::kProfileRoot},
  };
  for (const auto& [path, folder, refusal] : rows) {
    const kv::guard::Verdict v = folder ? kv::guard::CheckFolder(path) : kv::guard::CheckFile(path);
    EXPECT_EQ(refusal, v.refusal) << Utf8(path);
    if (v && folder) {
      EXPECT_EQ(product, v.resolved) << "the folder's own spelling, ending with a backslash";
    }
  }
  EXPECT_TRUE(kv::guard::CheckFolder(inner, product));
  EXPECT_EQ(Refusal::kOutside, kv::guard::CheckFolder(product, inner).refusal);
  EXPECT_EQ(Refusal::kOutside, kv::guard::CheckFolder(product, product).refusal);
  // An installer's planned paths: the part that exists decides.
  EXPECT_TRUE(kv::guard::CheckPlannedFile(product + L"not\\yet\\a.txt"));
  EXPECT_EQ(Refusal::kWindows, kv::guard::CheckPlannedFolder(ShellDir(CSIDL_WINDOWS) + L"not\\yet\\").refusal);
  EXPECT_TRUE(kv::guard::IsPlainName(L"Brix Demo.lnk"));
  for (const wchar_t* name : {L"", L"..", L"a\\b", L"a/b", L"x.", L"CON", L"a:b"})
    EXPECT_FALSE(kv::guard::IsPlainName(name)) << Utf8(name);
}

// XP and Vista know neither the basic listing nor the large fetch: every find would fail there.
TEST(FolderWalk, ListingModePerSystem) {
  const std::tuple<DWORD, DWORD, bool> rows[] = {{5, 1, false}, {6, 0, false}, {6, 1, true}, {10, 0, true}};
  for (const auto& [major, minor, fast] : rows) {
    const kv::sweep::FindMode mode = kv::sweep::FindModeFor(major, minor);
    EXPECT_EQ(fast ? FindExInfoBasic : FindExInfoStandard, mode.level) << major << "." << minor;
    EXPECT_EQ(fast ? FIND_FIRST_EX_LARGE_FETCH : 0u, mode.flags) << major << "." << minor;
  }
}

// ---- reports on the wire ------------------------------------------------------------------------

// What the end-to-end runs send is checked there; these are the limits and the refusals.
TEST(Reports, WhatGoesOnTheWire) {
  constexpr wchar_t kEndpoint[] = L"http://127.0.6.6/report.asp";
  Wire server("127.0.6.6", 80);
  ASSERT_TRUE(server.ready()) << "port 80 on 127.0.6.6";
  const std::wstring t30(30, L't'), t29(29, L't'), v99(99, L'v'), v100(100, L'v');
  struct Row {
    const wchar_t *url, *type, *value;
    bool sent;
    std::string arrives;  // the value as it arrives
  } rows[] = {
      {kEndpoint, t30.c_str(), L"v", false, ""},
      {nullptr, L"open", L"v", false, ""},
      {kEndpoint, nullptr, L"v", false, ""},
      {kEndpoint, t29.c_str(), L"v", true, "v"},
      {kEndpoint, L"long", v99.c_str(), true, std::string(99, 'v')},
      {kEndpoint, L"long", v100.c_str(), true, ""},
      {kEndpoint, L"novalue", nullptr, true, ""},
  };
  for (const Row& row : rows) {
    server.Clear();
    DoReport(row.url, row.type, row.value);
    ASSERT_TRUE(WaitForReports(15000));
    const std::vector<HttpRequest> got = server.Requests();
    ASSERT_EQ(row.sent ? 1u : 0u, got.size()) << (row.type ? Utf8(row.type) : "no type");
    if (row.sent) {
      EXPECT_EQ(Utf8(row.type), QueryValue(got[0].target, "type"));
      EXPECT_EQ(row.arrives, QueryValue(got[0].target, "value"));
    }
  }
  // Each report owns its block: a burst loses none.
  server.Clear();
  for (int i = 0; i < 5; ++i) DoReport(kEndpoint, L"burst", std::to_wstring(i).c_str());
  ASSERT_TRUE(WaitForReports(15000));
  std::multiset<std::string> values;
  for (const HttpRequest& r : server.Requests()) values.insert(QueryValue(r.target, "value"));
  EXPECT_EQ((std::multiset<std::string>{"0", "1", "2", "3", "4"}), values);
}

// ---- the clean-up script ------------------------------------------------------------------------

// No stand-ins: "?" for a character the code page lacks is a wildcard to del.
TEST(Script, NoSpellingButAnExactOne) {
  std::string out = "unchanged";
  for (const auto& [text, cp] :
       {std::pair(L"C:\\\u6D4B\u8BD5", 1252u), std::pair(L"C:\\\uD55C", 936u), std::pair(L"C:\\\u0101", 1252u)})
    EXPECT_FALSE(sd::ToCodePage(text, cp, &out)) << Utf8(text);
  EXPECT_EQ("unchanged", out);
  EXPECT_EQ(L"", sd::SpellablePath(L"C:\\kvtest\\absent_\uD55C\\x.exe", 936));
}

// Readable and writable by administrators and the system only: it runs with our rights.
TEST(Script, IfSupportedOnlyAdministratorsAndSystemMayTouchIt) {
  const std::wstring path = FreshDir(L"sd_acl") + L"clear.bat";
  ASSERT_TRUE(sd::WriteFreshScript(path, "@ echo off"));
  kv::UniqueLocal descriptor, text;
  ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, nullptr,
                          reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put()));
  ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor.get(), SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                         reinterpret_cast<LPWSTR*>(text.put()), nullptr);
  const std::wstring dacl = text.get() ? static_cast<const wchar_t*>(text.get()) : L"";
  // Wine answers with an access list of its own making, whatever the file was created with.
  if (dacl.find(L";;;BA)") == std::wstring::npos) GTEST_SKIP() << "the access list is not kept here: " << Utf8(dacl);
  EXPECT_EQ(2, std::count(dacl.begin(), dacl.end(), L'(')) << Utf8(dacl);
  EXPECT_NE(std::wstring::npos, dacl.find(L";;;SY)")) << Utf8(dacl);
}

// ---- installations run to their end --------------------------------------------------------------

// The real engine (kvUninstallCli), or the helper as kvUninstall.exe where the script has its turn.
// Canaries outside the product stay as they were, the product's files go; and whatever was refused
// on the way, the product's key, its desktop link and its listed link go.
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
  std::wstring menu{}, display = L"KvHostile", launch{}, options{};
  std::vector<std::wstring> trash{};  // made outside R, removed afterwards
  std::function<void()> after = nullptr;
};

bool PendingRestart(const std::wstring& path) {
  std::wstring data(8192, L'\0');
  DWORD bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
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
  r.product.push_back(R + L"links\\hostile.lnk");  // the listed link
  const std::vector<UninstallEntry> shortcuts = {Entry(1, r.product.back())};
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
    WriteText(r.at + L"kvUninstall.dat", RawRecord(h, r.listed, shortcuts));
    const ProcessResult run = Run(
        L"\"" + (r.launch.empty() ? program : r.launch) + L"\"" + (r.script ? L" uninstall" : L"") + r.options, r.at);
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
  const std::wstring data = ShellDir(CSIDL_COMMON_APPDATA), menus = ShellDir(CSIDL_PROGRAMS),
                     desktop = ShellDir(CSIDL_COMMON_DESKTOPDIRECTORY), home = Folder(L"USERPROFILE"),
                     temp = Folder(L"TEMP"), app = R + L"app\\", elsewhere = R + L"elsewhere\\";
  std::wstring climb;
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
      {.name = "ListTrailingDot", .listed = {Entry(0, R + L"data.\\")}, .canaries = {R + L"data\\canary.txt"}},
      {.name = "ListFolderIsALink",
       .listed = {Entry(0, R + L"listed\\")},
       .canaries = {R + L"target\\canary.txt"},
       .links = {{R + L"listed", R + L"target"}}},
      // A listed folder goes, read-only files too, but for folders named with a leading full stop;
      // a link in it is never followed nor counted. Listed files count in the total, send nothing.
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
             std::wstring command = L"\"" + other + L"\" sleep 60000";
             STARTUPINFOW si = {};
             si.cb = sizeof(si);
             PROCESS_INFORMATION pi = {};
             if (!Plain(R + L"other\\") || !CopyProgram(L"kvtesthelper.exe", other) ||
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
      {.name = "ListModeEmptyGoes", .listed = {Entry(1, app + L"kvUninstall.dat")}, .gone = {app}, .script = true},
      {.name = "ListModeFolderWithFilesStays",
       .canaries = {app + L"settings.ini"},
       .gone = {app + L"kvUninstall.exe"},
       .script = true},
  });
}

// The native Program Files folder of a 64-bit system; a 32-bit process is told only the (x86) ones.
TEST(Hostile, NativeView) {
  BOOL wow64 = FALSE;
  ASSERT_TRUE(ExpectedWow64() != 1 || (::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64)) << "meant for WOW64";
  const std::wstring programs = Folder(L"ProgramW6432", CSIDL_PROGRAM_FILES);
  RunRows({
      {.name = "FolderPrograms", .at = programs, .dir = R + L"elsewhere\\", .canaries = {programs + L"kv_canary.txt"}},
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
