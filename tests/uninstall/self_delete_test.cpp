// The self-deletion script's text and bytes, how its file is made and how it is started; and the
// hand-over in real processes, where self_delete_probe.exe runs as kvUninstall.exe in an
// installed folder and DeleteSelf ends it.
#include "uninstall/self_delete.h"

#include <aclapi.h>
#include <sddl.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/install_support.h"
#include "util/handles.h"

namespace {

namespace sd = kv::self_delete;
using kvtest::Exists;
using kvtest::WriteText;

constexpr UINT kChinese = 936;
constexpr UINT kWestern = 1252;
constexpr UINT kWesternOem = 437;
constexpr wchar_t kScript[] = L"c:\\clear.bat";
constexpr wchar_t kProbe[] = L"self_delete_probe.exe";

// The volume's own short name for path; empty when it keeps none a code page can hold (ASCII).
std::wstring PlatformShortName(const std::wstring& path) {
  wchar_t short_path[MAX_PATH] = {};
  const DWORD length = ::GetShortPathNameW(path.c_str(), short_path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  for (DWORD i = 0; i < length; ++i)
    if (short_path[i] > 0x7F) return {};
  return short_path;
}

std::string Bytes(const std::wstring& text, UINT code_page) {
  std::string out = "unchanged";
  EXPECT_TRUE(sd::ToCodePage(text, code_page, &out)) << kvtest::Utf8(text);
  return out;
}

// ---- the script's text and bytes ----

TEST(SelfDeleteScript, TextPerModeAndPathExactly) {
  const std::wstring sys = L"C:\\windows\\system32";
  const std::string head = "@ echo off\r\n\"C:\\windows\\system32\\taskkill.exe\" /pid 4242 /f\r\n";
  struct Row {
    const wchar_t* exe;
    const wchar_t* folder;
    std::string text;
  };
  const Row rows[] = {
      {L"C:\\Program Files\\Prod\\kvUninstall.exe", L"",
       head + "del \"C:\\Program Files\\Prod\\kvUninstall.exe\"\r\ndel %0"},
      {L"C:\\Program Files\\Prod\\kvUninstall.exe", L"C:\\Program Files\\Prod\\",
       head + "del \"C:\\Program Files\\Prod\\kvUninstall.exe\"\r\nrd \"C:\\Program Files\\Prod\\\"\r\ndel %0"},
      // cmd expands "%" even inside quotes: each is doubled to stay one.
      {L"C:\\kvtest\\50%off\\kvUninstall.exe", L"C:\\kvtest\\50%off\\",
       head + "del \"C:\\kvtest\\50%%off\\kvUninstall.exe\"\r\nrd \"C:\\kvtest\\50%%off\\\"\r\ndel %0"},
      {L"D:\\x\\%X%\\Prod Uninstall.exe", L"",
       head + "del \"D:\\x\\%%X%%\\Prod Uninstall.exe\"\r\ndel %0"},
  };
  for (const Row& row : rows)
    for (UINT cp : {kChinese, kWestern})
      EXPECT_EQ(row.text, Bytes(sd::ScriptText(sys, 4242, row.exe, row.folder), cp))
          << kvtest::Utf8(row.exe) << " in " << cp;
  // cmd by its full path, without AutoRun, never through the shell's file association.
  EXPECT_EQ(L"\"C:\\windows\\system32\\cmd.exe\" /d /q /v:off /c c:\\clear.bat",
            sd::ScriptCommandLine(sys, kScript));
}

TEST(SelfDeleteScript, CodePageBytesWithoutStandIns) {
  EXPECT_EQ("del \"C:\\\xB2\xE2\xCA\xD4\\\"", Bytes(L"del \"C:\\\u6D4B\u8BD5\\\"", kChinese));
  EXPECT_EQ("C:\\Caf\xE9\\Stra\xDF" "e", Bytes(L"C:\\Caf\u00E9\\Stra\u00DF" L"e", kWestern));
  // The console's code page of a Western system spells the same letters otherwise.
  EXPECT_EQ("C:\\Caf\x82", Bytes(L"C:\\Caf\u00E9", kWesternOem));
  std::string out = "unchanged";
  EXPECT_FALSE(sd::ToCodePage(L"C:\\\u6D4B\u8BD5", kWestern, &out));
  EXPECT_EQ("unchanged", out);
  EXPECT_FALSE(sd::ToCodePage(L"C:\\\uD55C", kChinese, &out));  // Hangul: not in 936
  // No best-fit stand-in: a macron a would silently become a plain a and name another file.
  EXPECT_FALSE(sd::ToCodePage(L"C:\\\u0101", kWestern, &out));
  EXPECT_EQ(::GetOEMCP(), sd::ScriptCodePage());
}

TEST(SelfDeleteScript, SpellablePathFallsBackToTheShortName) {
  const std::wstring dir = kvtest::FreshDir(L"sd_spell_\u6D4B\u8BD5_\uD55C");
  EXPECT_EQ(L"C:\\kvtest\\", sd::SpellablePath(L"C:\\kvtest\\", kChinese));
  const std::wstring chinese = L"C:\\kvtest\\\u6D4B\u8BD5\\kvUninstall.exe";  // 936 holds it as is
  EXPECT_EQ(chinese, sd::SpellablePath(chinese, kChinese));
  // Nothing on disk, so no short name either: no spelling at all rather than a lossy one.
  EXPECT_EQ(L"", sd::SpellablePath(L"C:\\kvtest\\absent_\uD55C\\x.exe", kChinese));

  const std::wstring short_name = PlatformShortName(dir);
  if (short_name.empty()) GTEST_SKIP() << "the volume keeps no short name for the folder";
  for (UINT cp : {kChinese, kWestern}) EXPECT_EQ(short_name, sd::SpellablePath(dir, cp)) << cp;
}

// The script is always a new file of ours, whatever lay at its path.
TEST(SelfDeleteScript, FreshFileWhateverWasThere) {
  const std::wstring dir = kvtest::FreshDir(L"sd_fresh");
  const std::wstring path = dir + L"clear.bat";
  const std::string bytes = "@ echo off\r\ndel %0";
  struct Row {
    const char* what;
    std::function<void()> before;
    bool written;
  };
  const Row rows[] = {
      {"nothing", [] {}, true},
      {"a read-only file", [&] {
         WriteText(path, "someone else's");
         ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
       }, true},
      {"a hard link to another file", [&] {
         WriteText(dir + L"victim.txt", "victim");
         ::CreateHardLinkW(path.c_str(), (dir + L"victim.txt").c_str(), nullptr);
       }, true},
      {"an empty folder", [&] { ::CreateDirectoryW(path.c_str(), nullptr); }, true},
      {"a folder with a file", [&] { WriteText(path + L"\\theirs.txt", "theirs"); }, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    row.before();
    EXPECT_EQ(row.written, sd::WriteFreshScript(path, bytes));
    if (row.written) {
      EXPECT_EQ("@ echo off\r\r\ndel %0", kvtest::ReadAll(path));  // text-mode line ends
    }
    ::SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileW(path.c_str());
  }
  EXPECT_EQ("victim", kvtest::ReadAll(dir + L"victim.txt"));
  EXPECT_EQ("theirs", kvtest::ReadAll(path + L"\\theirs.txt"));
  ::DeleteFileW((path + L"\\theirs.txt").c_str());
  ::RemoveDirectoryW(path.c_str());
}

// Readable and writable by administrators and the system only.
TEST(SelfDeleteScript, OnlyAdministratorsAndTheSystem) {
  const std::wstring path = kvtest::FreshDir(L"sd_access") + L"clear.bat";
  ASSERT_TRUE(sd::WriteFreshScript(path, "@ echo off"));
  PACL dacl = nullptr;
  kv::UniqueLocal descriptor;
  ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
            ::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                    nullptr, &dacl, nullptr,
                                    reinterpret_cast<PSECURITY_DESCRIPTOR*>(descriptor.put())));
  if (!dacl) GTEST_SKIP() << "this platform keeps no access list on the file";
  std::vector<std::wstring> trustees;
  for (DWORD i = 0; i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    ASSERT_TRUE(::GetAce(dacl, i, reinterpret_cast<void**>(&ace)));
    EXPECT_EQ(ACCESS_ALLOWED_ACE_TYPE, ace->Header.AceType);
    kv::UniqueLocal sid_text;
    ASSERT_TRUE(::ConvertSidToStringSidW(&ace->SidStart, reinterpret_cast<LPWSTR*>(sid_text.put())));
    trustees.push_back(static_cast<const wchar_t*>(sid_text.get()));
  }
  // Wine answers with an access list of its own making (the owner and the system), whatever the
  // file was created with.
  if (std::find(trustees.begin(), trustees.end(), L"S-1-5-32-544") == trustees.end())
    GTEST_SKIP() << "this platform does not keep the access list a file is created with";
  EXPECT_EQ((std::vector<std::wstring>{L"S-1-5-32-544", L"S-1-5-18"}), trustees);
}

// ---- the hand-over in real processes ----

struct Installed {
  std::wstring dir, exe, marker;
};

Installed Install(const std::wstring& name, bool folder_mode) {
  Installed in;
  in.dir = kvtest::FreshDir(name);
  in.exe = in.dir + L"kvUninstall.exe";
  in.marker = kvtest::FreshDir(name + L"_marker") + L"exit_handler.txt";
  EXPECT_TRUE(kvtest::CopyProgram(kProbe, in.exe));
  WriteText(in.dir + L"data\\payload.bin", "x");
  UninstallRecord header = {};
  if (folder_mode) kvtest::Put(header.installDir, in.dir);
  WriteText(in.dir + L"kvUninstall.dat", kvtest::RawRecord(header, {}, {}));
  return in;
}

// DeleteSelf ends the probe with exit code 0, skipping the exit handlers; then the script takes
// the program, the rest of the folder in folder mode, and itself.
TEST(SelfDelete, HandOverPerMode) {
  struct Row {
    const wchar_t* name;
    bool folder_mode;
    bool folder_gone;
  };
  const Row rows[] = {
      {L"self delete folder", true, true},
      // List mode removes only what is listed: the record and the data keep the folder.
      {L"self delete list", false, false},
      // A folder name the code page cannot hold reaches the script in its short form.
      {::GetACP() == kChinese ? L"self delete \uD55C\uAE00" : L"self delete \u5378\u8F7D", true, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(kvtest::Utf8(row.name));
    const Installed in = Install(row.name, row.folder_mode);
    if (std::string ignored; !sd::ToCodePage(in.dir, sd::ScriptCodePage(), &ignored) &&
                             PlatformShortName(in.dir).empty()) {
      std::printf("the volume gives %s no short name: row not run\n", kvtest::Utf8(in.dir).c_str());
      continue;
    }
    ::DeleteFileW(kScript);
    const kvtest::ProcessResult r =
        kvtest::Run(L"\"" + in.exe + L"\" --marker \"" + in.marker + L"\"", in.dir);
    ASSERT_FALSE(r.timed_out);
    EXPECT_EQ(0u, r.exit_code) << r.output;
    EXPECT_FALSE(Exists(in.marker)) << "DeleteSelf ran the program's exit handlers";
    for (DWORD start = ::GetTickCount(); (Exists(kScript) || Exists(in.exe)) &&
                                         ::GetTickCount() - start < 30000;)
      ::Sleep(100);
    EXPECT_FALSE(Exists(in.exe));
    EXPECT_FALSE(Exists(kScript));
    EXPECT_EQ(!row.folder_gone, Exists(in.dir));
    EXPECT_EQ(!row.folder_mode, Exists(in.dir + L"data\\payload.bin"));
  }
}

}  // namespace
