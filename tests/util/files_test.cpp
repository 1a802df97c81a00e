// Files and versions: whole-file reading and writing, file facts, the version of a program that
// carries one, version and size texts, used space, and installed products across roots and views.
#include "util/files.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/install_support.h"
#include "util/handles.h"
#include "util/system.h"

namespace {

TEST(ModuleFolder, OfALoadedModuleOrOfTheProgram) {
  wchar_t folder[MAX_PATH] = {};
  GetCurPathEx(L"kernel32.dll", folder);
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(::GetSystemDirectoryW(system, MAX_PATH), 0u);
  EXPECT_EQ(0, _wcsicmp((std::wstring(system) + L"\\").c_str(), folder)) << kvtest::Utf8(folder);
  GetCurPathEx(L"kvtest_not_loaded.dll", folder);
  EXPECT_EQ(kvtest::BinDir(), folder);
  GetCurPath(folder);
  EXPECT_EQ(kvtest::BinDir(), folder);
}

TEST(WholeFile, WriteReadRoomAndMissing) {
  const std::wstring dir = kvtest::FreshDir(L"files_rw"), path = dir + L"data.bin";
  const char data[] = "line one\r\nline two\n\0after zero";
  ASSERT_EQ(1, KvWriteFile(path.c_str(), data, sizeof(data)));
  char back[64];
  std::memset(back, 'z', sizeof(back));
  DWORD length = sizeof(back);
  ASSERT_EQ(1, KvReadFile(path.c_str(), back, &length));
  ASSERT_EQ(sizeof(data), length) << "binary: no newline translation";
  EXPECT_EQ(0, std::memcmp(data, back, sizeof(data)));
  length = 10;  // the read stops at the room
  std::memset(back, 'z', sizeof(back));
  ASSERT_EQ(1, KvReadFile(path.c_str(), back, &length));
  EXPECT_EQ(10u, length);
  EXPECT_EQ('z', back[10]);
  ASSERT_EQ(1, KvWriteFile(path.c_str(), "xy", 2));  // writing again truncates
  length = sizeof(back);
  ASSERT_EQ(1, KvReadFile(path.c_str(), back, &length));
  EXPECT_EQ(2u, length);
  EXPECT_EQ(0, KvReadFile((dir + L"absent.bin").c_str(), back, &length));
  EXPECT_EQ(0, KvWriteFile((dir + L"no\\such\\folder.bin").c_str(), "x", 1));
}

TEST(FileFacts, IsDirSizeAndLocalTimes) {
  const std::wstring dir = kvtest::FreshDir(L"files_facts");
  kvtest::WriteText(dir + L"f.txt", std::string(12345, 'q'));
  EXPECT_EQ(1, isDir(dir.c_str()));
  EXPECT_EQ(0, isDir((dir + L"f.txt").c_str()));
  EXPECT_EQ(0, isDir((dir + L"absent").c_str()));
  EXPECT_EQ(0, isDir(nullptr));
  EXPECT_EQ(12345, FileSize((dir + L"f.txt").c_str()));
  EXPECT_EQ(0, FileSize((dir + L"absent").c_str()));
  // Times are local calendar times.
  const std::wstring path = dir + L"f.txt";
  const SYSTEMTIME utc = {2020, 2, 0, 29, 13, 14, 15, 0};
  FILETIME ft = {};
  ASSERT_TRUE(::SystemTimeToFileTime(&utc, &ft));
  {
    kv::UniqueHandleKernel file(::CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ,
                                              nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(::SetFileTime(file.get(), nullptr, nullptr, &ft));
  }
  SYSTEMTIME written = {}, created = {}, want = {};
  ASSERT_EQ(1, FileTime(path.c_str(), &created, &written, nullptr));
  ASSERT_TRUE(::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &want));
  auto fields = [](const SYSTEMTIME& t) {
    return std::vector<WORD>{t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond};
  };
  EXPECT_EQ(fields(want), fields(written));
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  if (created.wYear == written.wYear && created.wDay == written.wDay && created.wHour == written.wHour) {
    std::printf("SKIPPED: this file system keeps no creation time (it follows the last write)\n");
  } else {
    EXPECT_EQ(now.wYear, created.wYear) << "created moments ago";
  }
  EXPECT_EQ(0, FileTime((path + L".absent").c_str(), &created, nullptr, nullptr));
  EXPECT_EQ(0, FileTime(nullptr, nullptr, nullptr, nullptr));
}

TEST(FileVersion, OfAProgramOrNothing) {
  wchar_t version[64] = L"garbage";
  ASSERT_EQ(1, GetFileVer((kvtest::BinDir() + L"instance_probe.exe").c_str(), version));
  EXPECT_STREQ(L"3.14.15.65000", version);
  for (const std::wstring& path : {kvtest::BinDir() + L"log_probe.exe", std::wstring(L"C:\\kvtest\\absent.exe")}) {
    wcscpy(version, L"garbage");  // no version block, no file
    EXPECT_EQ(0, GetFileVer(path.c_str(), version));
    EXPECT_STREQ(L"", version);
  }
}

struct VersionCase {
  const wchar_t* a;
  const wchar_t* b;
  int result;
};

TEST(Versions, Compare) {
  const VersionCase cases[] = {
      {L"1.2.10", L"1.2.9", 1},     {L"1.2.9", L"1.2.10", -1},      {L"1.2", L"1.2.0.0", 0},
      {L"2.a", L"2.0", 0},          {L"1.0", L"", -2},              {L"", L"1.0", -2},
      {L"", L"", -2},               {L"3.0.0.1", L"3.0.0.1.9", 0},  {L"3.0.0.2", L"3.0.0.1.9", 1},
      {L"10", L"9.9.9.9", 1},       {L" 7.1", L"7.1", 0},           {L"-1.0", L"0.0", -1},
      {L"1..2", L"1.0.2", 0},       {L"4.0.0.0.1", L"4", 0},        {L"0.0.0.1", L"0", 1},
  };
  for (const VersionCase& c : cases)
    EXPECT_EQ(c.result, CompVersion(c.a, c.b)) << kvtest::Utf8(c.a) << " vs " << kvtest::Utf8(c.b);
  EXPECT_EQ(-2, CompVersion(nullptr, L"1"));
}

struct SizeCase {
  long long size;
  const wchar_t* text;
};

TEST(SizeText, FromAndToNumber) {
  const SizeCase cases[] = {
      {0, L"0 B"},        {1024, L"1024 B"},        {1025, L"1.00 KB"},          {1536, L"1.50 KB"},
      {1048576, L"1024.00 KB"},   {1048577, L"1.00 MB"},   {1073741824, L"1024.00 MB"},
      {1073741825, L"1.00 GB"},   {5LL * 1073741824 + 536870912, L"5.50 GB"},   {-5, L"-5 B"},
      {-5000000000LL, L"-705032704 B"}};
  for (const SizeCase& c : cases) {
    wchar_t text[32] = L"garbage";
    IntToStrSize(c.size, text);
    EXPECT_STREQ(c.text, text) << c.size;
  }
  const SizeCase back[] = {
      {3221225472LL, L"3 GB"}, {20480, L"20 KB"},     {2097152, L"2 MB"}, {2097152, L"2 mb"},
      {0, L"MB 2"},            {0, L"500 B"},         {0, L"5GB"},        {1073741824, L"1.5 GB"},
      {0, L""},                {-1024, L"-1 KB"},     {1048576, L"1 MBK"}, {1073741824, L"1 KMG"},
      // Beyond the 64-bit range the size stops at its end, as the number itself does.
      {LLONG_MAX, L"9000000000 GB"}, {LLONG_MIN, L"-9000000000 GB"}, {LLONG_MAX, L"9007199254740992 KB"},
      {LLONG_MAX, L"99999999999999999999 K"}, {9223372035781033984LL, L"8589934591 GB"},
  };
  for (const SizeCase& c : back) EXPECT_EQ(c.size, StrToIntSize(c.text)) << kvtest::Utf8(c.text);
  EXPECT_EQ(0, StrToIntSize(nullptr));
}

TEST(UsedSpace, DriveRootAndFolder) {
  EXPECT_EQ(0u, GetPathUseSpace(L""));
  ULARGE_INTEGER available = {}, total = {};
  ASSERT_TRUE(::GetDiskFreeSpaceExW(L"C:\\", &available, &total, nullptr));
  const unsigned long long used = GetPathUseSpace(L"C:\\");
  EXPECT_GT(used, 0u);
  EXPECT_LE(used, total.QuadPart);
  const std::wstring dir = kvtest::FreshDir(L"files_space");
  kvtest::WriteText(dir + L"a.bin", std::string(3000, 'a'));
  kvtest::WriteText(dir + L"sub\\b.bin", std::string(5000, 'b'));
  const unsigned long long folder = GetPathUseSpace(dir.substr(0, dir.size() - 1).c_str());
  if (folder == 0) {
    std::printf("SKIPPED: the script runtime's Folder.Size gives nothing here\n");
  } else {
    EXPECT_EQ(8000u, folder);
  }
  EXPECT_EQ(0u, GetPathUseSpace(L"C:\\kvtest\\files_space_absent"));
}

// Uninstall entries of our own, under names no other program uses.
constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";

class Installed : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const auto& [root, view, key] : made_) {
      kv::UniqueKey list;
      if (::RegOpenKeyExW(root, kUninstall, 0, KEY_ALL_ACCESS | view, list.put()) == ERROR_SUCCESS)
        kvtest::DeleteKeyTree(list.get(), key);
    }
  }
  // An entry with a display name and, when version is given, a display version.
  void Add(HKEY root, REGSAM view, const wchar_t* display, const std::wstring& version = L"-") {
    const std::wstring key = L"kvtest_" + std::to_wstring(::GetCurrentProcessId()) + L"_" +
                             std::to_wstring(made_.size());
    kv::UniqueKey entry;
    ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(root, (kUninstall + key).c_str(), 0, nullptr, 0,
                                               KEY_ALL_ACCESS | view, nullptr, entry.put(), nullptr));
    made_.push_back({root, view, key});
    const std::wstring name = Name(display);
    ::RegSetValueExW(entry.get(), L"DisplayName", 0, REG_SZ, reinterpret_cast<const BYTE*>(name.c_str()),
                     static_cast<DWORD>((name.size() + 1) * 2));
    if (version != L"-")
      ::RegSetValueExW(entry.get(), L"DisplayVersion", 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(version.c_str()), static_cast<DWORD>((version.size() + 1) * 2));
  }
  static std::wstring Name(const std::wstring& what) {
    return L"KvTest " + std::to_wstring(::GetCurrentProcessId()) + L" " + what;
  }
  static int Check(const wchar_t* what) { return CheckInstalled(Name(what).c_str()); }
  // GetSoftVer's answer and version text.
  static std::pair<int, std::wstring> Version(const wchar_t* what) {
    wchar_t version[50] = L"garbage";
    const int rc = GetSoftVer(Name(what).c_str(), version);
    return {rc, version};
  }
  using V = std::pair<int, std::wstring>;
  struct Made {
    HKEY root;
    REGSAM view;
    std::wstring key;
  };
  std::vector<Made> made_;
};

TEST_F(Installed, PrefixesVersionsAndOrder) {
  Add(HKEY_CURRENT_USER, 0, L"Product 栎禾 Suite", L"2.5.1");
  EXPECT_EQ(1, Check(L"Product"));
  EXPECT_EQ(1, Check(L"Product 栎禾 Suite"));
  EXPECT_EQ(0, Check(L"product")) << "case matters";
  EXPECT_EQ(0, Check(L"Product 栎禾 Suite 2"));
  EXPECT_EQ(V(1, L"2.5.1"), Version(L"Product"));
  EXPECT_EQ(0, Version(L"Other").first);
  Add(HKEY_LOCAL_MACHINE, 0, L"Bare");
  EXPECT_EQ(V(1, L""), Version(L"Bare"));
  // 150 characters of display name do not fit the 300 bytes read; nor 60 of version the 50.
  Add(HKEY_CURRENT_USER, 0, (L"Long " + std::wstring(150, L'n')).c_str(), L"1.0");
  EXPECT_EQ(0, Check(L"Long"));
  Add(HKEY_CURRENT_USER, 0, L"Wordy", std::wstring(60, L'9'));
  EXPECT_EQ(V(1, L""), Version(L"Wordy"));
  Add(HKEY_CURRENT_USER, 0, L"Both", L"user");
  Add(HKEY_LOCAL_MACHINE, 0, L"Both", L"machine");
  EXPECT_EQ(V(1, L"machine"), Version(L"Both"));  // the machine before the user
}

TEST_F(Installed, ViewsInTheirOrder) {
  if (const char* expect = std::getenv("KV_EXPECT_WOW64")) { ASSERT_EQ(std::atoi(expect), isWow64()); }
  Add(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, L"Sixty", L"64");
  if (!isWow64()) {
    std::printf("SKIPPED: one registry view outside WOW64\n");
    EXPECT_EQ(1, Check(L"Sixty"));
    return;
  }
  // Only in the 64-bit view of the machine: found after the two default-view searches failed.
  EXPECT_EQ(V(1, L"64"), Version(L"Sixty"));
  // The user's entry in the default view comes before the machine's 64-bit one.
  Add(HKEY_CURRENT_USER, 0, L"Sixty", L"user");
  EXPECT_EQ(V(1, L"user"), Version(L"Sixty"));
  // And the machine's 32-bit view before both.
  Add(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY, L"Sixty", L"32");
  EXPECT_EQ(V(1, L"32"), Version(L"Sixty"));
}

}  // namespace
