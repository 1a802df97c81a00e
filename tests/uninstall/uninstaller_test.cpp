// Runs the real engine in real installations: kvUninstallCli lies in each test's installation
// folder beside its kvUninstall.dat and prints every progress message the engine delivers.
#include "uninstall/uninstaller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/install_support.h"

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

TEST(UninstallRun, FullStopFoldersStayReadOnlyFilesGo) {
  CliInstall install(L"fullstop");
  const std::wstring data = Data(L"fullstop_data", {L"listed\\a.txt", L"listed\\.hidden\\b.txt"});
  install.removals = {Entry(0, data + L"listed\\")};
  EXPECT_EQ((Lines{"sent 100", "posted 100"}), install.WriteAndRun());
  EXPECT_FALSE(Exists(data + L"listed\\a.txt"));
  EXPECT_TRUE(Exists(data + L"listed\\.hidden\\b.txt"));

  // The product's read-only files go too: their mark is cleared where it stops the deletion.
  const std::wstring ro = Data(L"readonly_data", {L"f\\ro.txt", L"f\\rw.txt", L"single.txt"});
  for (const wchar_t* f : {L"f\\ro.txt", L"single.txt"})
    ::SetFileAttributesW((ro + f).c_str(), FILE_ATTRIBUTE_READONLY);
  install.removals = {Entry(0, ro + L"f\\"), Entry(1, ro + L"single.txt")};
  EXPECT_EQ((Lines{"sent 33", "sent 66", "posted 100"}), install.WriteAndRun());
  for (const wchar_t* f : {L"f", L"single.txt"}) EXPECT_FALSE(Exists(ro + f)) << kvtest::Utf8(f);
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

// Wine cannot remove a Unix symbolic link through any Windows call (RemoveDirectoryW answers
// ERROR_DIR_NOT_EMPTY), so there only the safety half shows: the target is never entered.
void ExpectLinkGone(const std::wstring& link) {
  if (!Exists(link)) return;
  ASSERT_FALSE(::RemoveDirectoryW(link.c_str())) << "the engine left a removable link";
  std::printf("this platform cannot remove %s through RemoveDirectoryW: link removal not checked\n",
              kvtest::Utf8(link).c_str());
}

TEST(UninstallRun, LinksAreRemovedNotFollowed) {
  const std::wstring target = Data(L"links_target", {L"keep.txt", L"inner\\keep2.txt"});
  // List mode: a listed folder holding a link. Two real files; the link adds none.
  CliInstall list(L"links_list");
  const std::wstring listed = Data(L"links_listed", {L"a.txt", L"sub\\b.txt"});
  if (!kvtest::MakeFolderLink(listed + L"sub\\link", target)) GTEST_SKIP() << "no folder links here";
  list.removals = {Entry(0, listed)};
  EXPECT_EQ((Lines{"sent 50", "sent 100", "posted 100"}), list.WriteAndRun());
  ExpectLinkGone(listed + L"sub\\link");
  // Folder mode: the installation folder holds a link; the program and the record are counted.
  CliInstall folder(L"links_install");
  ASSERT_TRUE(kvtest::MakeFolderLink(folder.dir + L"link", target));
  Put(folder.header.installDir, folder.dir);
  EXPECT_EQ((Lines{"sent 50", "sent 100", "posted 100"}), folder.WriteAndRun());
  ExpectLinkGone(folder.dir + L"link");
  EXPECT_TRUE(Exists(target + L"keep.txt"));
  EXPECT_TRUE(Exists(target + L"inner\\keep2.txt"));
}

}  // namespace
