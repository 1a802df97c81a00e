// Runs the real engine in real installations: kvUninstallCli lies in each test's installation
// folder beside its kvUninstall.dat and prints every progress message the engine delivers.
#include "uninstall/uninstaller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/install_support.h"
#include "uninstall/protected_folders.h"

namespace {

using kvtest::CliInstall;
using kvtest::Entry;
using kvtest::Exists;
using kvtest::Put;
using kvtest::WriteText;
using Lines = std::vector<std::string>;

// A data folder beside the installation holding files (relative names), all "x".
std::wstring Data(const std::wstring& name, std::initializer_list<const wchar_t*> files) {
  const std::wstring data = kvtest::FreshDir(name);
  for (const wchar_t* f : files) WriteText(data + f, "x");
  return data;
}

TEST(UninstallRun, ListModeProgressAndRemoval) {
  CliInstall install(L"listmode");
  const std::wstring data = Data(L"listmode_data", {L"folder\\1.txt", L"folder\\2.txt",
      L"folder\\deep\\3.txt", L"folder\\deep\\deeper\\4.txt", L"single1.txt", L"single2.txt", L"kept.txt"});
  install.removals = {Entry(0, data + L"folder\\"), Entry(1, data + L"single1.txt"),
                      Entry(1, data + L"single2.txt")};
  // 4 files in the folder, 2 single files: 6 in all; single files send nothing.
  EXPECT_EQ((Lines{"sent 16", "sent 33", "sent 50", "sent 66", "posted 100"}), install.WriteAndRun());
  for (const wchar_t* f : {L"folder", L"single1.txt", L"single2.txt"}) EXPECT_FALSE(Exists(data + f));
  EXPECT_TRUE(Exists(data + L"kept.txt"));
  EXPECT_TRUE(Exists(install.dir + L"kvUninstall.dat"));  // list mode removes only what is listed
}

TEST(UninstallRun, FolderModeSweepsOwnFolder) {
  CliInstall install(L"foldermode");
  WriteText(install.dir + L"data\\file.bin", "x");
  Put(install.header.installDir, install.dir);
  // Three files: the data file, the record and the running program (which cannot go yet).
  EXPECT_EQ((Lines{"sent 33", "sent 66", "sent 100", "posted 100"}), install.WriteAndRun());
  EXPECT_FALSE(Exists(install.dir + L"data"));
  EXPECT_FALSE(Exists(install.dir + L"kvUninstall.dat"));
  EXPECT_TRUE(Exists(install.dir + CliInstall::kCli));
}

TEST(UninstallRun, FullStopFoldersAndReadOnlyFilesStay) {
  CliInstall install(L"fullstop");
  const std::wstring data = Data(L"fullstop_data", {L"listed\\a.txt", L"listed\\.hidden\\b.txt"});
  install.removals = {Entry(0, data + L"listed\\")};
  EXPECT_EQ((Lines{"sent 100", "posted 100"}), install.WriteAndRun());
  EXPECT_FALSE(Exists(data + L"listed\\a.txt"));
  EXPECT_TRUE(Exists(data + L"listed\\.hidden\\b.txt"));

  const std::wstring ro = Data(L"readonly_data", {L"f\\ro.txt", L"f\\rw.txt"});
  ::SetFileAttributesW((ro + L"f\\ro.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  install.removals = {Entry(0, ro + L"f\\")};
  EXPECT_EQ((Lines{"sent 50", "sent 100", "posted 100"}), install.WriteAndRun());  // still counted
  EXPECT_TRUE(Exists(ro + L"f\\ro.txt"));
  EXPECT_FALSE(Exists(ro + L"f\\rw.txt"));
  ::SetFileAttributesW((ro + L"f\\ro.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(UninstallRun, SyncStartSendsNoFinalPost) {
  CliInstall install(L"syncstart");
  const std::wstring data = Data(L"syncstart_data", {L"f\\a.txt", L"f\\b.txt"});
  install.removals = {Entry(0, data + L"f\\")};
  EXPECT_EQ((Lines{"sent 50", "sent 100"}), install.WriteAndRun(/*sync=*/true));
  EXPECT_FALSE(Exists(data + L"f"));
}

TEST(UninstallRun, MissingRecordOrNothingToCount) {
  CliInstall install(L"norecord");
  WriteText(install.dir + L"stays.txt", "x");
  EXPECT_EQ((Lines{"posted 100", "posted 100"}), install.Run());  // the engine's 100 and the thread's
  EXPECT_EQ((Lines{"posted 100"}), install.Run(/*sync=*/true));    // the caller's thread: the engine's
  EXPECT_TRUE(Exists(install.dir + L"stays.txt"));

  const std::wstring data = Data(L"nocount_data", {L"only.txt"});
  install.removals = {Entry(1, data + L"only.txt"), Entry(0, data + L"absent\\")};
  EXPECT_EQ((Lines{"posted 100"}), install.WriteAndRun());
  EXPECT_FALSE(Exists(data + L"only.txt"));
}

// A record whose installation folder is a drive root or a system folder must not empty it.
TEST(UninstallRun, FolderModeNeverSweepsProtectedFolders) {
  for (const std::wstring root : {L"C:\\", L"C:\\ProgramData\\"}) {
    SCOPED_TRACE(kvtest::Utf8(root));
    CliInstall install(root, /*at=*/true);
    WriteText(root + L"kv_canary.txt", "must stay");
    Put(install.header.installDir, root);
    EXPECT_EQ((Lines{"posted 100"}), install.WriteAndRun());
    EXPECT_TRUE(Exists(root + L"kv_canary.txt"));
    EXPECT_TRUE(Exists(root + L"kvUninstall.dat"));
    for (const wchar_t* f : {L"kv_canary.txt", L"kvUninstall.dat", CliInstall::kCli})
      ::DeleteFileW((root + f).c_str());
  }
}

TEST(ProtectedFolders, RootsAndWellKnownFolders) {
  wchar_t profile[MAX_PATH] = {};
  ::GetEnvironmentVariableW(L"USERPROFILE", profile, MAX_PATH);
  ASSERT_NE(L'\0', profile[0]);
  const std::wstring home = profile;
  for (const std::wstring& p : std::initializer_list<std::wstring>{
           L"C:\\", L"c:", L"C:\\windows", L"C:\\WINDOWS\\", L"C:\\windows\\system32\\", L"C:\\Program Files",
           L"C:\\ProgramData\\", L"C:\\users\\Public\\Desktop", L"\\\\server\\share\\", L"", home,
           home + L"\\Desktop"})
    EXPECT_TRUE(IsProtectedFolder(p.c_str())) << kvtest::Utf8(p);
  for (const wchar_t* p : {L"C:\\Program Files\\Prod\\", L"C:\\kvtest\\x\\", L"C:\\windows\\..\\kvtest\\"})
    EXPECT_FALSE(IsProtectedFolder(p)) << kvtest::Utf8(p);
}

// Wine cannot remove a Unix symbolic link through any Windows call (RemoveDirectoryW answers
// ERROR_DIR_NOT_EMPTY), so there only the safety half shows: the target is never entered.
void ExpectLinkGone(const std::wstring& link) {
  if (!Exists(link)) return;
  ASSERT_FALSE(::RemoveDirectoryW(link.c_str())) << "the engine left a removable link";
  std::printf("SKIPPED (link removal): this platform cannot remove %s through RemoveDirectoryW\n",
              kvtest::Utf8(link).c_str());
}

// The fixture script made symbolic links to C:\kvfixtures\target from the Linux side.
TEST(UninstallRun, LinksAreRemovedNotFollowed) {
  const std::wstring root = L"C:\\kvfixtures\\";
  if (!Exists(root + L"listed\\sub\\link") || !Exists(root + L"install\\link")) {
    std::printf("SKIPPED: the link fixture is missing (tests/fixtures/make_links.sh makes it)\n");
    GTEST_SKIP();
  }
  const DWORD attrs = ::GetFileAttributesW((root + L"listed\\sub\\link").c_str());
  ASSERT_EQ(FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT,
            attrs & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT));
  // List mode: a listed folder holding a link. Two real files; the link adds none.
  CliInstall list(L"links_list");
  list.removals = {Entry(0, root + L"listed\\")};
  EXPECT_EQ((Lines{"sent 50", "sent 100", "posted 100"}), list.WriteAndRun());
  ExpectLinkGone(root + L"listed\\sub\\link");
  // Folder mode: the installation folder holds a link; the program and the record are counted.
  CliInstall folder(root + L"install\\", /*at=*/true);
  Put(folder.header.installDir, folder.dir);
  EXPECT_EQ((Lines{"sent 50", "sent 100", "posted 100"}), folder.WriteAndRun());
  ExpectLinkGone(folder.dir + L"link");
  EXPECT_TRUE(Exists(root + L"target\\keep.txt"));
  EXPECT_TRUE(Exists(root + L"target\\inner\\keep2.txt"));
}

}  // namespace
