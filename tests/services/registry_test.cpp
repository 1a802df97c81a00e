// The registry service: values, views, autorun entries and monitors, each on keys of its own.
#include "services/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "tests/support/registry_helpers.h"
#include "tests/support/shared_helpers.h"
#include "util/system.h"

namespace {

using OwnKey = kvtest::TempRegKey;

// GetRegInfo as "1|text" or "0"; never a unit written past its 130.
std::wstring Read(const OwnKey& key, const wchar_t* name, int view = 0) {
  wchar_t text[CKvReg::kValueRoom + 8];
  std::wmemset(text, L'z', CKvReg::kValueRoom + 8);
  const int result = GetRegInfo(key.root, key.path.c_str(), name, view, text);
  EXPECT_EQ(L'z', text[CKvReg::kValueRoom]);
  return result ? L"1|" + std::wstring(text) : std::to_wstring(result);
}

TEST(RegValues, WriteReadAndTheLimitsOfWhatIsRead) {
  const HKEY hkcu = HKEY_CURRENT_USER;
  OwnKey key(hkcu, L"reg_values"), missing(hkcu, L"reg_missing", {});
  EXPECT_EQ(1, SetRegInfo(hkcu, key.path.c_str(), L"name", 0, L"栎禾 value"));
  EXPECT_EQ(L"1|栎禾 value", Read(key, L"name"));
  EXPECT_EQ(L"0", Read(key, L"absent"));
  // Only texts under 130 characters are read; other types read as their bytes.
  const std::wstring fits(129, L'a'), too_long(130, L'b');
  kvtest::SetRegText(hkcu, key.path, 0, L"fits", fits);
  kvtest::SetRegText(hkcu, key.path, 0, L"long", too_long);
  EXPECT_EQ(L"1|" + fits, Read(key, L"fits"));
  EXPECT_EQ(L"0", Read(key, L"long"));
  const DWORD ab = 0x00420041;  // 'A', 'B' in UTF-16
  kvtest::SetRegRaw(hkcu, key.path, 0, L"number", REG_DWORD, &ab, sizeof(ab));
  EXPECT_EQ(L"1|AB", Read(key, L"number"));
  // 130 units stored without a terminator still end within the caller's 130.
  kvtest::SetRegRaw(hkcu, key.path, 0, L"bare", REG_SZ, too_long.c_str(), 260);
  if (Read(key, L"bare") == L"0")
    std::printf("SKIPPED: this registry wants room for a terminator the value lacks, so it is not read\n");
  else
    EXPECT_EQ(L"1|" + std::wstring(129, L'b'), Read(key, L"bare"));
  // A write to a missing key creates nothing.
  EXPECT_EQ(0, SetRegInfo(hkcu, missing.path.c_str(), L"v", 0, L"x"));
  EXPECT_FALSE(kvtest::RegKeyExists(hkcu, missing.path, 0));
  EXPECT_EQ(L"0", Read(missing, L"v"));
}

// One key under HKLM\Software, which WOW64 keeps apart for each view.
TEST(RegView, FlagChoosesTheView) {
  ASSERT_TRUE(kvtest::ExpectedWow64() < 0 || kvtest::ExpectedWow64() == isWow64()) << "not the prefix asked for";
  OwnKey key(HKEY_LOCAL_MACHINE, L"reg_view", {}), only64(HKEY_LOCAL_MACHINE, L"reg_view64", {});
  kvtest::SetRegText(HKEY_LOCAL_MACHINE, key.path, KEY_WOW64_32KEY, L"which", L"32");
  kvtest::SetRegText(HKEY_LOCAL_MACHINE, key.path, KEY_WOW64_64KEY, L"which", L"64");
  if (!isWow64()) {
    std::printf("SKIPPED: one registry view outside WOW64; both flags reach the same value\n");
    EXPECT_EQ(L"1|64 1|64", Read(key, L"which", 0) + L" " + Read(key, L"which", 1));
    return;
  }
  EXPECT_EQ(L"1|32 1|64", Read(key, L"which", 0) + L" " + Read(key, L"which", 1));
  EXPECT_EQ(1, SetRegInfo(HKEY_LOCAL_MACHINE, key.path.c_str(), L"which", 1, L"sixty-four"));
  EXPECT_EQ(L"1|32 1|sixty-four", Read(key, L"which", 0) + L" " + Read(key, L"which", 1))
      << "a write to the 64-bit view leaves the 32-bit one alone";
  // A key only in the 64-bit view is not found through flag 0.
  kvtest::SetRegText(HKEY_LOCAL_MACHINE, only64.path, KEY_WOW64_64KEY, L"v", L"x");
  EXPECT_EQ(L"0 1|x", Read(only64, L"v", 0) + L" " + Read(only64, L"v", 1));
}

// The Run entry's text in a view; "(none)" when absent or not a string.
std::wstring RunValue(const std::wstring& name, REGSAM view) {
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                      KEY_READ | view, &key) != ERROR_SUCCESS)
    return L"(none)";
  wchar_t text[1024] = {};
  DWORD size = sizeof(text) - 2, type = 0;
  const LONG read = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
  ::RegCloseKey(key);
  return read == ERROR_SUCCESS && type == REG_SZ ? text : L"(none)";
}

TEST(RegAutoRunView, OwnPathOrCommandInTheProcessViewThenOff) {
  const std::wstring name = L"kvtest_autorun_" + std::to_wstring(::GetCurrentProcessId());
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  ASSERT_EQ(1, SetAutoRun(name.c_str(), 1, nullptr));
  EXPECT_EQ(self, RunValue(name, 0));
  ASSERT_EQ(1, SetAutoRun(name.c_str(), 1, L"\"C:\\app\\x.exe\" /silent"));
  EXPECT_EQ(L"\"C:\\app\\x.exe\" /silent", RunValue(name, KEY_WOW64_32KEY));
  const bool in64 = RunValue(name, KEY_WOW64_64KEY) != L"(none)";
  if (isWow64())
    EXPECT_FALSE(in64) << "a 32-bit program's entry stays out of the 64-bit view";
  else
    std::printf("SKIPPED: one view outside WOW64 (entry seen in both: %d)\n", in64 ? 1 : 0);
  EXPECT_EQ(1, SetAutoRun(name.c_str(), 0, nullptr));
  EXPECT_EQ(L"(none)", RunValue(name, 0));
  EXPECT_EQ(1, SetAutoRun(name.c_str(), 0, nullptr)) << "removing a missing entry is no error";
}

// Monitors share the one service and its stop flag: each test ends with every monitor stopped.
void Count(void* param) { ++*static_cast<std::atomic<int>*>(param); }

bool Reaches(const std::atomic<int>& calls, int want, DWORD ms) {
  return kvtest::WaitUntil([&] { return calls.load() >= want; }, ms);
}

// Milliseconds until no monitor runs; ~0u after limit.
DWORD MillisecondsUntilMonitorsEnd(DWORD limit = 2000) {
  const DWORD start = ::GetTickCount();
  return kvtest::WaitUntil([] { return kv::RunningRegMonitors() == 0; }, limit) ? ::GetTickCount() - start : ~0u;
}

TEST(RegMonitor, OnceAtStartThenPerChangeAndEndsSoonAfterStop) {
  OwnKey key(HKEY_CURRENT_USER, L"reg_monitor");
  std::atomic<int> calls{0};
  StartMonitor(HKEY_CURRENT_USER, key.path.c_str(), 0, &Count, &calls);
  ASSERT_TRUE(Reaches(calls, 1, 1000)) << "called once right after the start";
  ::Sleep(700);
  EXPECT_EQ(1, calls.load()) << "and not again without a change";
  key.Add(L"child");
  ASSERT_TRUE(Reaches(calls, 2, 3000)) << "an added subkey is a change";
  ::Sleep(300);
  key.Add(L"child\\grandchild");
  ASSERT_TRUE(Reaches(calls, 3, 3000)) << "the whole subtree is watched";
  ::Sleep(300);
  kvtest::SetRegText(HKEY_CURRENT_USER, key.path, 0, L"changed", L"2");
  if (!Reaches(calls, 4, 1500))
    std::printf("SKIPPED: this registry keeps a key handle's first filter (names only), so a changed "
                "value is not reported\n");
  StopMonitor();
  const DWORD ended = MillisecondsUntilMonitorsEnd();
  std::printf("monitor ended %lu ms after StopMonitor\n", static_cast<unsigned long>(ended));
  EXPECT_LE(ended, 650u);
  const int after_stop = calls.load();
  key.Add(L"late");
  ::Sleep(700);
  EXPECT_EQ(after_stop, calls.load());
}

TEST(RegMonitor, MissingKeyEndsAtOnceAndRestartDoesNotReviveOldMonitors) {
  OwnKey missing(HKEY_CURRENT_USER, L"reg_nokey", {}), a(HKEY_CURRENT_USER, L"reg_mon_a");
  OwnKey b(HKEY_CURRENT_USER, L"reg_mon_b");
  std::atomic<int> none{0}, first{0}, second{0};
  StartMonitor(HKEY_CURRENT_USER, missing.path.c_str(), 0, &Count, &none);
  ::Sleep(300);
  EXPECT_LE(MillisecondsUntilMonitorsEnd(), 1000u);
  EXPECT_EQ(0, none.load());
  EXPECT_EQ(1u, CKvReg::MonitorThread(nullptr));

  StartMonitor(HKEY_CURRENT_USER, a.path.c_str(), 0, &Count, &first);
  ASSERT_TRUE(Reaches(first, 1, 1000));
  StopMonitor();
  StartMonitor(HKEY_CURRENT_USER, b.path.c_str(), 0, &Count, &second);
  ASSERT_TRUE(Reaches(second, 1, 1000));
  ::Sleep(700);
  EXPECT_EQ(1, kv::RunningRegMonitors()) << "only the new monitor runs";
  a.Add(L"child");
  b.Add(L"child");
  EXPECT_TRUE(Reaches(second, 2, 3000));
  ::Sleep(300);
  EXPECT_EQ(1, first.load());
  StopMonitor();
  EXPECT_LE(MillisecondsUntilMonitorsEnd(), 650u);
}

TEST(RegMonitor, LoopOnTheCallingThread) {
  OwnKey key(HKEY_CURRENT_USER, L"reg_loop"), missing(HKEY_CURRENT_USER, L"reg_loop_missing", {});
  CKvReg& reg = CKvReg::Instance();
  std::atomic<int> calls{0}, result{-1};
  EXPECT_EQ(0, reg.MonitorReg(HKEY_CURRENT_USER, missing.path.c_str(), 0, &Count, nullptr));
  // The stop flag stays set after a StopMonitor: a loop started then ends at once.
  reg.StopMonitor();
  EXPECT_EQ(1, reg.MonitorReg(HKEY_CURRENT_USER, key.path.c_str(), 0, &Count, &calls));
  EXPECT_EQ(0, calls.load());
  // Only StartMonitor clears it (here for a monitor that ends at once on its missing key).
  reg.StartMonitor(HKEY_CURRENT_USER, missing.path.c_str(), 0, &Count, nullptr);
  std::thread loop([&] { result = reg.MonitorReg(HKEY_CURRENT_USER, key.path.c_str(), 0, &Count, &calls); });
  ASSERT_TRUE(Reaches(calls, 1, 1000));
  reg.StopMonitor();
  const DWORD start = ::GetTickCount();
  loop.join();
  EXPECT_LE(::GetTickCount() - start, 650u);
  EXPECT_EQ(1, result.load());
}

TEST(RegMonitorView, WatchesTheChosenView) {
  OwnKey key(HKEY_LOCAL_MACHINE, L"reg_monview", {KEY_WOW64_64KEY});
  std::atomic<int> calls{0}, none{0};
  StartMonitor(HKEY_LOCAL_MACHINE, key.path.c_str(), 1, &Count, &calls);
  ASSERT_TRUE(Reaches(calls, 1, 1000));
  key.Add(L"child", KEY_WOW64_64KEY);
  EXPECT_TRUE(Reaches(calls, 2, 3000));
  StopMonitor();
  EXPECT_LE(MillisecondsUntilMonitorsEnd(), 650u);
  if (!isWow64()) {
    std::printf("SKIPPED: one view outside WOW64\n");
    return;
  }
  // Flag 0 under WOW64 is the 32-bit view, where this key does not exist.
  StartMonitor(HKEY_LOCAL_MACHINE, key.path.c_str(), 0, &Count, &none);
  ::Sleep(300);
  EXPECT_LE(MillisecondsUntilMonitorsEnd(), 1000u);
  EXPECT_EQ(0, none.load());
}

}  // namespace
