// The deletion guard's verdicts, one row per path, on the real folders of the test prefix; and
// how the walk lists folders on each system.
#include "uninstall/deletion_guard.h"

#include <gtest/gtest.h>
#include <shlobj.h>

#include <string>

#include "tests/support/install_support.h"
#include "uninstall/folder_sweep.h"

namespace {

using kv::guard::Refusal;

std::wstring ShellFolder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  EXPECT_TRUE(SUCCEEDED(::SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path)));
  return path;
}

std::wstring Variable(const wchar_t* name) {
  wchar_t value[MAX_PATH] = {};
  ::GetEnvironmentVariableW(name, value, MAX_PATH);
  return value;
}

TEST(DeletionGuard, FormOfThePath) {
  struct Row {
    const wchar_t* path;
    Refusal form;
  };
  const Row rows[] = {
      {L"C:\\Prod\\", Refusal::kNone},
      {L"c:\\Program Files\\Prod\\bin\\a.dll", Refusal::kNone},
      {L"C:\\", Refusal::kNone},  // a root by its form: refused later as a root
      {L"", Refusal::kNotAbsolute},
      {L"\\", Refusal::kNotAbsolute},
      {L"\\Prod\\", Refusal::kNotAbsolute},
      {L"rel\\", Refusal::kNotAbsolute},
      {L"C:Prod\\", Refusal::kNotAbsolute},
      {L"\\\\server\\share\\Prod\\", Refusal::kForeignForm},
      {L"\\\\?\\C:\\Prod\\", Refusal::kForeignForm},
      {L"\\\\.\\C:\\Prod\\", Refusal::kForeignForm},
      {L"C:/ProgramData/", Refusal::kForeignForm},
      {L"C:\\Prod\\\\sub\\", Refusal::kForeignForm},
      {L"C:\\Prod\\a.txt:stream", Refusal::kForeignForm},
      {L"C:\\Prod\\*.*", Refusal::kForeignForm},
      {L"C:\\Prod\\NUL.txt", Refusal::kForeignForm},
      {L"C:\\Prod\\com1", Refusal::kForeignForm},
      {L"C:\\Prod\\..\\", Refusal::kDotPiece},
      {L"C:\\Prod\\.\\x", Refusal::kDotPiece},
      {L"C:\\ProgramData.\\", Refusal::kDotPiece},
      {L"C:\\ProgramData \\", Refusal::kDotPiece},
      {L"C:\\Prod\\.hidden\\", Refusal::kNone},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.form, kv::guard::CheckForm(row.path)) << kvtest::Utf8(row.path);
  for (const wchar_t* name : {L"Prod", L"Brix Demo.lnk", L"...lnk"})
    EXPECT_TRUE(kv::guard::IsPlainName(name)) << kvtest::Utf8(name);
  for (const wchar_t* name : {L"", L"..", L"a\\b", L"a/b", L"x.", L"CON", L"a:b"})
    EXPECT_FALSE(kv::guard::IsPlainName(name)) << kvtest::Utf8(name);
}

TEST(DeletionGuard, WhereThePathLeads) {
  const std::wstring product = kvtest::FreshDir(L"guard\\Prod");
  const std::wstring profile = Variable(L"USERPROFILE");
  struct Row {
    std::wstring folder;
    Refusal refusal;
  };
  const Row rows[] = {
      {product, Refusal::kNone},
      {ShellFolder(CSIDL_PROGRAM_FILES) + L"\\", Refusal::kWellKnown},
      {L"C:\\", Refusal::kRoot},
      {ShellFolder(CSIDL_WINDOWS), Refusal::kWindows},
      {ShellFolder(CSIDL_SYSTEM) + L"\\drivers\\", Refusal::kWindows},
      {ShellFolder(CSIDL_APPDATA), Refusal::kWellKnown},
      {ShellFolder(CSIDL_COMMON_APPDATA), Refusal::kWellKnown},
      {ShellFolder(CSIDL_PROGRAMS), Refusal::kWellKnown},
      {profile + L"\\AppData\\", Refusal::kAboveWellKnown},
      {profile, Refusal::kProfileRoot},
      {Variable(L"PUBLIC"), Refusal::kProfileRoot},
      {ShellFolder(CSIDL_PROFILE) + L"\\..\\", Refusal::kDotPiece},
      {product + L"absent\\", Refusal::kUnresolved},
  };
  for (const Row& row : rows) {
    const kv::guard::Verdict verdict = kv::guard::CheckFolder(row.folder);
    EXPECT_EQ(row.refusal, verdict.refusal) << kvtest::Utf8(row.folder);
  }
  // The final form comes back, ending with a backslash, whatever the spelling asked about.
  const kv::guard::Verdict allowed = kv::guard::CheckFolder(L"c:\\KVTEST\\guard\\prod");
  ASSERT_TRUE(allowed);
  EXPECT_TRUE(kv::guard::SamePath(allowed.resolved, product));
  EXPECT_EQ(L'\\', allowed.resolved.back());

  // Inside a given folder, or refused.
  const std::wstring inner = kvtest::FreshDir(L"guard\\Prod\\inner");
  EXPECT_TRUE(kv::guard::CheckFolder(inner, product));
  EXPECT_EQ(Refusal::kOutside, kv::guard::CheckFolder(product, inner).refusal);
  EXPECT_EQ(Refusal::kOutside, kv::guard::CheckFolder(product, product).refusal);

  // A folder that is a link is never taken as the folder itself.
  const std::wstring target = kvtest::FreshDir(L"guard\\target");
  if (kvtest::MakeFolderLink(product + L"link", target)) {
    EXPECT_EQ(Refusal::kLink, kv::guard::CheckFolder(product + L"link\\").refusal);
  }
}

TEST(DeletionGuard, FilesAndPlannedPaths) {
  const std::wstring product = kvtest::FreshDir(L"guard\\files");
  struct Row {
    std::wstring file;
    Refusal refusal;
  };
  const Row rows[] = {
      {product + L"a.txt", Refusal::kNone},
      {product + L"absent.txt", Refusal::kNone},  // nothing to delete: not the guard's concern
      {L"C:\\kv_guard_loose.txt", Refusal::kRoot},
      {ShellFolder(CSIDL_SYSTEM) + L"\\kernel32.dll", Refusal::kWindows},
      {product + L"sub\\..\\a.txt", Refusal::kDotPiece},
      {product, Refusal::kForeignForm},  // a folder path is no file
      {product + L"absent\\a.txt", Refusal::kUnresolved},
  };
  for (const Row& row : rows)
    EXPECT_EQ(row.refusal, kv::guard::CheckFile(row.file).refusal) << kvtest::Utf8(row.file);

  // What an installer writes before anything exists: the part that exists decides.
  EXPECT_TRUE(kv::guard::CheckPlannedFolder(product + L"not\\yet\\"));
  EXPECT_TRUE(kv::guard::CheckPlannedFile(product + L"not\\yet\\a.txt"));
  EXPECT_EQ(Refusal::kWindows,
            kv::guard::CheckPlannedFolder(ShellFolder(CSIDL_WINDOWS) + L"\\not\\yet\\").refusal);
  EXPECT_EQ(Refusal::kWellKnown, kv::guard::CheckPlannedFolder(L"C:\\users\\").refusal);
}

TEST(FolderWalk, ListingModePerSystem) {
  struct Row {
    DWORD major, minor;
    FINDEX_INFO_LEVELS level;
    DWORD flags;
  };
  // XP and Vista know neither the basic listing nor the large fetch: every find would fail.
  const Row rows[] = {
      {5, 0, FindExInfoStandard, 0},
      {5, 1, FindExInfoStandard, 0},
      {6, 0, FindExInfoStandard, 0},
      {6, 1, FindExInfoBasic, FIND_FIRST_EX_LARGE_FETCH},
      {6, 2, FindExInfoBasic, FIND_FIRST_EX_LARGE_FETCH},
      {10, 0, FindExInfoBasic, FIND_FIRST_EX_LARGE_FETCH},
  };
  for (const Row& row : rows) {
    const kv::sweep::FindMode mode = kv::sweep::FindModeFor(row.major, row.minor);
    EXPECT_EQ(row.level, mode.level) << row.major << "." << row.minor;
    EXPECT_EQ(row.flags, mode.flags) << row.major << "." << row.minor;
  }
}

}  // namespace
