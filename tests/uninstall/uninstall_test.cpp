// The engine's pieces on their own: the record read and written, the deletion guard's verdicts,
// the folder listing per system, the reports on the wire and the clean-up script's spelling.
#include <aclapi.h>
#include <sddl.h>

#include <set>

#include "tests/uninstall/uninstall_fixtures.h"
#include "uninstall/deletion_guard.h"
#include "uninstall/folder_sweep.h"
#include "uninstall/report.h"
#include "uninstall/self_delete.h"
#include "util/handles.h"

namespace {

using namespace kvtest;
using kv::guard::Refusal;
namespace sd = kv::self_delete;

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

TEST(Record, WriterLayoutAndRefusals) {
  const std::wstring path = FreshDir(L"record_writer") + L"kvUninstall.dat";
  UninstallRecord h = {};
  Put(h.displayName, std::wstring(49, L'n'));  // the longest name that fits
  const std::vector<UninstallEntry> removals = {Entry(1, L"C:\\p\\a.txt"), Entry(0, L"C:\\p\\sub\\")},
                                    shortcuts = {Entry(0, L"C:\\p\\s.lnk")};
  ASSERT_EQ(1, WriteUninstallRecord(path.c_str(), &h, removals.data(), 2, shortcuts.data(), 1));
  EXPECT_EQ(RawRecord(h, removals, shortcuts), ReadAll(path));
  Put(h.installDir, L"C:\\Program Files\\Prod\\");  // folder mode: no removal list at all
  ASSERT_EQ(1, WriteUninstallRecord(path.c_str(), &h, nullptr, 0, shortcuts.data(), 1));
  EXPECT_EQ(RawRecord(h, {}, shortcuts), ReadAll(path));

  // What does not fit, or what the uninstaller would refuse to delete, is refused.
  struct Row {
    const char* what;
    std::wstring name{}, dir{}, menu{};
    std::vector<UninstallEntry> removals{}, shortcuts{};
    std::wstring at = L"C:\\kvtest\\record_writer\\kvUninstall.dat";
  };
  const Row rows[] = {
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
  for (const Row& row : rows) {
    UninstallRecord r = {};
    Put(r.displayName, row.name);
    Put(r.installDir, row.dir);
    Put(r.menuFolder, row.menu);
    RemoveTree(row.at);
    EXPECT_EQ(0, WriteUninstallRecord(row.at.c_str(), &r, row.removals.data(), static_cast<int>(row.removals.size()),
                                      row.shortcuts.data(), static_cast<int>(row.shortcuts.size())))
        << row.what;
    EXPECT_FALSE(Exists(row.at)) << row.what;
  }
}

// ---- the deletion guard -------------------------------------------------------------------------

// The refusals every hostile installation meets are proven on real runs; these are the rest.
TEST(DeletionGuard, Verdicts) {
  const std::wstring product = FreshDir(L"guard\\Prod"), inner = FreshDir(L"guard\\Prod\\inner");
  const std::tuple<std::wstring, bool, Refusal> rows[] = {
      {product, true, Refusal::kNone},
      {L"c:\\KVTEST\\guard\\prod", true, Refusal::kNone},
      {product + L"absent.txt", false, Refusal::kNone},
      {L"", true, Refusal::kNotAbsolute},
      {L"C:Prod\\", true, Refusal::kNotAbsolute},
      {L"\\\\server\\share\\Prod\\", true, Refusal::kForeignForm},
      {L"C:\\Prod\\\\sub\\", true, Refusal::kForeignForm},
      {L"C:\\Prod\\a.txt:stream", false, Refusal::kForeignForm},
      {L"C:\\Prod\\*.*", false, Refusal::kForeignForm},
      {L"C:\\Prod\\NUL.txt", false, Refusal::kForeignForm},
      {product + L".\\a.txt", false, Refusal::kDotPiece},
      {L"C:\\ProgramData \\", true, Refusal::kDotPiece},
      {product + L"absent\\", true, Refusal::kUnresolved},
      {product + L"absent\\a.txt", false, Refusal::kUnresolved},
      {L"C:\\kv_guard_loose.txt", false, Refusal::kRoot},
      {ShellDir(CSIDL_WINDOWS), true, Refusal::kWindows},
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

TEST(Reports, WhatGoesOnTheWire) {
  constexpr wchar_t kEndpoint[] = L"http://127.0.6.6/report.asp";
  Wire server("127.0.6.6", 80);
  ASSERT_TRUE(server.ready()) << "port 80 on 127.0.6.6";
  DoReport(kEndpoint, std::wstring(30, L't').c_str(), L"v");  // none of these three is sent
  DoReport(nullptr, L"open", L"v");
  DoReport(kEndpoint, nullptr, L"v");
  ASSERT_TRUE(WaitForReports(15000));
  EXPECT_TRUE(server.Requests().empty());
  const std::string uid = Utf8(RegText(HKEY_CURRENT_USER, L"SOFTWARE\\Quarell", L"UID"));
  const std::tuple<std::wstring, std::wstring, std::string> rows[] = {
      {L"v", L"栎禾软件 演示版", "%e6%a0%8e%e7%a6%be%e8%bd%af%e4%bb%b6%20%e6%bc%94%e7%a4%ba%e7%89%88"},
      {std::wstring(29, L't'), L"v", "v"},
      {L"long", std::wstring(99, L'v'), std::string(99, 'v')},
      {L"long", std::wstring(100, L'v'), ""},
      {L"novalue", L"", ""},  // no value at all
  };
  for (const auto& [type, value, sent] : rows) {
    server.Clear();
    DoReport(kEndpoint, type.c_str(), type == L"novalue" ? nullptr : value.c_str());
    ASSERT_TRUE(WaitForReports(15000));
    const std::vector<HttpRequest> got = server.Requests();
    ASSERT_EQ(1u, got.size()) << Utf8(type);
    EXPECT_EQ(Utf8(type), QueryValue(got[0].target, "type"));
    EXPECT_EQ(sent, QueryValue(got[0].target, "value"));
    EXPECT_EQ(uid, QueryValue(got[0].target, "uuid"));
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
