// System facts, redirection, privileges, UAC, the single-instance guard with a second real
// process, DoRun, the processor fingerprint, the battery and the code page.
#include "util/system.h"

#include <gtest/gtest.h>

#include <cpuid.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/support/install_support.h"
#include "util/handles.h"

namespace {

TEST(OsName, EveryRowOfTheTable) {
  struct OsRow {
    DWORD platform, major, minor;
    const wchar_t* name;
  };
  constexpr DWORD nt = VER_PLATFORM_WIN32_NT, w9x = VER_PLATFORM_WIN32_WINDOWS;
  const OsRow rows[] = {
      {nt, 5, 0, L"Win2000"}, {nt, 5, 1, L"XP"},    {nt, 5, 2, L"XP"},     {nt, 6, 0, L"Vista"},
      {nt, 6, 1, L"Win7"},    {nt, 6, 2, L"Win8"},  {nt, 6, 3, L"Win8"},   {nt, 7, 2, L"Win8"},
      {nt, 10, 0, L"XP"},     {nt, 4, 0, L"XP"},    {nt, 3, 51, L"XP"},    {w9x, 4, 0, L"9x"},
      {w9x, 4, 10, L"9x"},    {w9x, 4, 89, L"9x"},  {w9x, 4, 90, L"Me"},   {w9x, 4, 95, L"Me"},
      {w9x, 5, 0, L"XP"},     {w9x, 3, 95, L"XP"},  {VER_PLATFORM_WIN32s, 4, 0, L"XP"},
  };
  for (const OsRow& row : rows) {
    EXPECT_STREQ(row.name, kv::OsNameFor(row.platform, row.major, row.minor))
        << row.platform << " " << row.major << "." << row.minor;
    EXPECT_LT(std::wcslen(row.name), 8u) << "callers give 8 characters";
  }
}

OSVERSIONINFOW Reported() {
  OSVERSIONINFOW v = {};
  v.dwOSVersionInfoSize = sizeof(v);
  EXPECT_TRUE(::GetVersionExW(&v));
  return v;
}

TEST(OsName, RunningSystem) {
  const OSVERSIONINFOW v = Reported();
  wchar_t name[16] = L"garbage";
  EXPECT_EQ(1, GetOsName(name));
  EXPECT_STREQ(kv::OsNameFor(v.dwPlatformId, v.dwMajorVersion, v.dwMinorVersion), name);
  std::printf("reported %lu.%lu: %ls\n", v.dwMajorVersion, v.dwMinorVersion, name);
  const bool nt = v.dwPlatformId == VER_PLATFORM_WIN32_NT;
  EXPECT_EQ(nt && v.dwMajorVersion > 5 ? 1 : 0, isWin7());
  EXPECT_EQ(nt && v.dwMajorVersion > 5 && v.dwMinorVersion > 1 ? 1 : 0, isWin8());
}

// Under WOW64 a 32-bit process that names System32 reaches SysWOW64 until redirection is off.
TEST(SystemView, Wow64AndFsRedirection) {
  if (const char* expect = std::getenv("KV_EXPECT_WOW64"))
    EXPECT_EQ(std::atoi(expect), isWow64()) << "the prefix's kind";
  else
    std::printf("SKIPPED: KV_EXPECT_WOW64 not set; isWow64 gives %d\n", isWow64());
  wchar_t windows[MAX_PATH] = {};
  ASSERT_GT(::GetWindowsDirectoryW(windows, MAX_PATH), 0u);
  const std::wstring name = L"kvtest_redirect_" + std::to_wstring(::GetCurrentProcessId()) + L".txt";
  const std::wstring system32 = std::wstring(windows) + L"\\system32\\" + name;
  kvtest::WriteText(system32, "x");  // lands in SysWOW64 under WOW64
  ASSERT_TRUE(kvtest::Exists(system32));
  PVOID saved = reinterpret_cast<PVOID>(0x1234);
  DisableFsRedirection(&saved);
  const bool seen_without_redirection = kvtest::Exists(system32);
  RevertFsRedirection(saved);
  const bool seen_again = kvtest::Exists(system32);
  const bool in_syswow64 = kvtest::Exists(std::wstring(windows) + L"\\SysWOW64\\" + name);
  ::DeleteFileW(system32.c_str());
  EXPECT_TRUE(seen_again);
  if (!isWow64()) {
    std::printf("SKIPPED: no redirection outside WOW64; only checking that nothing changes\n");
    EXPECT_EQ(reinterpret_cast<PVOID>(0x1234), saved);
    EXPECT_TRUE(seen_without_redirection);
    return;
  }
  EXPECT_TRUE(in_syswow64) << "the 32-bit program's System32 is SysWOW64";
  EXPECT_FALSE(seen_without_redirection) << "System32 itself must be reached with redirection off";
}

// Attributes of a privilege in this process's token; -1 when the token does not hold it.
long PrivilegeAttributes(const wchar_t* privilege) {
  LUID luid = {};
  kv::UniqueHandleKernel token;
  DWORD size = 0;
  if (!::LookupPrivilegeValueW(nullptr, privilege, &luid) ||
      !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put()))
    return -2;
  ::GetTokenInformation(token.get(), TokenPrivileges, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (!::GetTokenInformation(token.get(), TokenPrivileges, buffer.data(), size, &size)) return -2;
  const auto* held = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
  for (DWORD i = 0; i < held->PrivilegeCount; ++i)
    if (std::memcmp(&held->Privileges[i].Luid, &luid, sizeof(luid)) == 0)
      return static_cast<long>(held->Privileges[i].Attributes);
  return -1;
}

TEST(Privileges, EnableThenRemoveForGood) {
  const wchar_t* privilege = SE_SYSTEMTIME_NAME;
  EXPECT_EQ(0, SetPrivilege(L"SeNoSuchPrivilege", 1));
  ASSERT_EQ(1, SetPrivilege(privilege, 1));
  const long enabled = PrivilegeAttributes(privilege);
  ASSERT_GE(enabled, 0) << "the token should hold the privilege";
  EXPECT_TRUE(enabled & SE_PRIVILEGE_ENABLED);
  ASSERT_EQ(1, SetPrivilege(privilege, 0));
  const long removed = PrivilegeAttributes(privilege);
  if (removed >= 0) {
    std::printf("SKIPPED: this system keeps a removed privilege in the token (attributes %ld)\n", removed);
    EXPECT_FALSE(removed & SE_PRIVILEGE_ENABLED) << "it must at least be off";
    return;
  }
  EXPECT_EQ(1, SetPrivilege(privilege, 1));
  EXPECT_EQ(-1, PrivilegeAttributes(privilege)) << "a removed privilege cannot come back";
}

// EnableLUA is one value of the machine; the test puts back what it found.
TEST(Uac, FollowsEnableLua) {
  constexpr wchar_t kKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
  HKEY key = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                             &key, nullptr));
  DWORD old_type = 0, old_value = 0, old_size = sizeof(old_value);
  const bool had = ::RegQueryValueExW(key, L"EnableLUA", nullptr, &old_type,
                                      reinterpret_cast<BYTE*>(&old_value), &old_size) == ERROR_SUCCESS;
  const int modern = Reported().dwMajorVersion > 5 ? 1 : 0;
  for (const auto& [value, uac] : std::initializer_list<std::pair<DWORD, int>>{{1, modern}, {0, 0}, {2, 0}}) {
    ::RegSetValueExW(key, L"EnableLUA", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    EXPECT_EQ(uac, isEnableUAC()) << value;
  }
  ::RegDeleteValueW(key, L"EnableLUA");
  EXPECT_EQ(0, isEnableUAC());
  if (had)
    ::RegSetValueExW(key, L"EnableLUA", 0, old_type, reinterpret_cast<const BYTE*>(&old_value), old_size);
  ::RegCloseKey(key);
}

// The other process of the single-instance tests, started without waiting.
class Probe {
 public:
  Probe(const std::wstring& name, bool window) {
    const std::wstring id = std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++count_);
    report_ = kvtest::FreshDir(L"instance_" + id) + L"report.txt";
    quit_name_ = L"kvtest_instance_quit_" + id;
    quit_.reset(::CreateEventW(nullptr, TRUE, FALSE, quit_name_.c_str()));
    std::wstring command = L"\"" + kvtest::BinDir() + L"instance_probe.exe\" \"" + name + L"\" " +
                           (window ? L"window" : L"plain") + L" \"" + report_ + L"\" " + quit_name_;
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (::CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) {
      process_.reset(pi.hProcess);
      ::CloseHandle(pi.hThread);
    }
  }
  ~Probe() {
    Quit();
    if (process_) ::WaitForSingleObject(process_.get(), 10000);
  }
  bool started() const { return static_cast<bool>(process_); }
  void Quit() { ::SetEvent(quit_.get()); }
  bool WaitExit(DWORD ms) { return ::WaitForSingleObject(process_.get(), ms) == WAIT_OBJECT_0; }
  bool Reported(const std::string& line) const {
    const std::vector<std::string> lines = kvtest::Lines(kvtest::ReadAll(report_));
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }
  // Waits until the report holds line; false after ms.
  bool WaitFor(const std::string& line, DWORD ms) const {
    for (const DWORD start = ::GetTickCount(); ::GetTickCount() - start < ms; ::Sleep(20))
      if (Reported(line)) return true;
    return false;
  }
  std::vector<std::string> Report() const { return kvtest::Lines(kvtest::ReadAll(report_)); }

 private:
  static inline int count_ = 0;
  std::wstring report_, quit_name_;
  kv::UniqueHandleKernel quit_, process_;
};

std::wstring InstanceName(const wchar_t* test) {
  return L"kvtest instance " + std::to_wstring(::GetCurrentProcessId()) + L" " + test;
}

// The first instance started with a minimised window; false (test skipped) without a display.
bool WindowShown(const Probe& first) {
  EXPECT_TRUE(first.WaitFor("check 1", 15000)) << "the first process's own call gives 1";
  if (first.WaitFor("window iconic 1", 5000)) return true;
  std::printf("SKIPPED: the first process could not show a minimised window (no display?)\n");
  return false;
}

TEST(SingleInstance, FirstInThisProcessThenAgain) {
  const std::wstring name = InstanceName(L"alone");
  EXPECT_EQ(1, CheckOneInstance(name.c_str(), nullptr));
  EXPECT_EQ(1, CheckOneInstance(name.c_str(), L"hello"));  // the mutex exists, no window has the name
  // A second process without a window goes on.
  const std::wstring plain = InstanceName(L"plain");
  Probe first(plain, false);
  ASSERT_TRUE(first.started());
  ASSERT_TRUE(first.WaitFor("check 1", 15000));
  EXPECT_EQ(1, CheckOneInstance(plain.c_str(), L"hello"));
}

// A one-character message is not sent; a longer one reaches the window, which ends the first.
TEST(SingleInstance, SecondProcessFindsTheWindowAndTellsIt) {
  const std::wstring name = InstanceName(L"window");
  Probe first(name, true);
  ASSERT_TRUE(first.started());
  if (!WindowShown(first)) GTEST_SKIP();
  EXPECT_EQ(0, CheckOneInstance(name.c_str(), L"x"));
  EXPECT_FALSE(first.WaitExit(1000)) << "no message arrived, so it is still waiting";
  EXPECT_EQ(0, CheckOneInstance(name.c_str(), L"open 卸载 now"));
  ASSERT_TRUE(first.WaitExit(10000)) << "the first process ends once told";
  std::vector<std::string> copydata;
  for (const std::string& line : first.Report())
    if (line.rfind("copydata", 0) == 0) copydata.push_back(line);
  EXPECT_EQ(std::vector<std::string>{"copydata 0 open 卸载 now (terminated)"}, copydata);
  EXPECT_TRUE(first.Reported("iconic 0")) << "the window is restored";
}

TEST(Run, WaitsForTheProcessOnlyWhenAsked) {
  const std::wstring probe = kvtest::BinDir() + L"instance_probe.exe";
  std::wstring report = kvtest::FreshDir(L"dorun_wait") + L"report.txt";
  DWORD start = ::GetTickCount();
  EXPECT_EQ(1, DoRun(probe.c_str(), (L"--sleep 800 \"" + report + L"\"").c_str(), 1, SW_HIDE));
  EXPECT_GE(::GetTickCount() - start, 700u);
  EXPECT_TRUE(kvtest::Exists(report)) << "the program has ended before DoRun returned";

  report = kvtest::FreshDir(L"dorun_nowait") + L"report.txt";
  start = ::GetTickCount();
  EXPECT_EQ(1, DoRun(probe.c_str(), (L"--sleep 1500 \"" + report + L"\"").c_str(), 0, SW_HIDE));
  EXPECT_LT(::GetTickCount() - start, 1200u);
  EXPECT_FALSE(kvtest::Exists(report));
  for (start = ::GetTickCount(); !kvtest::Exists(report) && ::GetTickCount() - start < 15000;) ::Sleep(50);
  EXPECT_TRUE(kvtest::Exists(report)) << "the program ran on its own";
}

TEST(MachineFacts, CpuIdIsVendorAndFeatureWord) {
  char id[64] = {};
  GetCPUID(id);
  const std::string text = id;
  ASSERT_GT(text.size(), 12u) << text;
  unsigned a = 0, b = 0, c = 0, d = 0;
  ASSERT_TRUE(__get_cpuid(0, &a, &b, &c, &d));
  const unsigned vendor[] = {b, d, c};
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(vendor), 12), text.substr(0, 12));
  char* end = nullptr;
  const long features = std::strtol(text.c_str() + 12, &end, 10);
  EXPECT_EQ('\0', *end) << "only the number follows the vendor";
  EXPECT_TRUE(features & 1) << "every processor that runs Windows has its floating-point unit";
  std::printf("CPUID: %s\n", id);
  EXPECT_LT(text.size(), 24u);
}

TEST(MachineFacts, NotebookFollowsTheBattery) {
  SYSTEM_POWER_STATUS status = {};
  ASSERT_TRUE(::GetSystemPowerStatus(&status));
  std::printf("battery percentage reported: %u\n", status.BatteryLifePercent);
  EXPECT_EQ(status.BatteryLifePercent <= 100 ? 1 : 0, isNotebook());
}

// The tests run under the product's code page (936), and this suite again under 1252.
TEST(CodePage, OneOfTheThreeMatches) {
  const char* expect = std::getenv("KV_EXPECT_ACP");
  if (expect) {
    ASSERT_EQ(static_cast<UINT>(std::atoi(expect)), ::GetACP()) << "the run's locale did not reach Wine";
  }
  const UINT acp = ::GetACP();
  EXPECT_EQ(acp == 936 ? 1 : 0, isSimplified());
  EXPECT_EQ(acp == 950 ? 1 : 0, isTraditional());
  EXPECT_EQ(acp == 1252 ? 1 : 0, isEnglish());
  if (!expect) std::printf("SKIPPED: KV_EXPECT_ACP not set; code page %u\n", acp);
}

}  // namespace
