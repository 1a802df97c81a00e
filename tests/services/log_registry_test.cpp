// The logger and the registry service: log texts for any date, the machine's "debug" switch and
// the daily file seen from the helper program in a folder of its own, the live channel's block;
// registry values and views, autorun entries and monitors, each on keys of the test's own.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdarg>
#include <cwchar>
#include <functional>
#include <future>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "services/logger.h"
#include "services/registry.h"
#include "tests/services/services_fixtures.h"
#include "tests/support/kvtest.h"
#include "util/shared_memory.h"
#include "util/system.h"

namespace {

using kvservices::kHang;

using Texts = std::vector<std::string>;

SYSTEMTIME Time(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
  SYSTEMTIME t = {};
  t.wYear = y, t.wMonth = mo, t.wDay = d, t.wHour = h, t.wMinute = mi, t.wSecond = s;
  return t;
}

std::wstring Format(LPCWSTR format, ...) {
  va_list args;
  va_start(args, format);
  std::wstring text = kv::FormatLogMessage(format, args);
  va_end(args);
  return text;
}

TEST(LogText, FileNamesLinesAndMessages) {
  const SYSTEMTIME t = Time(2026, 3, 5, 7, 8, 9);
  const std::wstring y(5000, L'y'), z(1023, L'z'), a(1022, L'a');
  const std::pair<std::wstring, std::wstring> rows[] = {  // {made, expected}
      {kv::LogFileNameFor(L"C:\\app\\", t), L"C:\\app\\KV-2026-3-5.log"},  // no leading zeros
      {kv::LogFileNameFor(L"D:\\", Time(2026, 12, 31, 23, 59, 59)), L"D:\\KV-2026-12-31.log"},
      {kv::LogFileNameFor(L"D:\\", Time(2027, 1, 1, 0, 0, 0)), L"D:\\KV-2027-1-1.log"},
      {kv::LogLineFor(t, L"hello"), L"2026-03-05 07:08:09\thello\r\n"},
      {kv::LogLineFor(Time(2026, 11, 25, 23, 0, 0), L""), L"2026-11-25 23:00:00\t\r\n"},
      {kv::LogLineFor(t, y), L"2026-03-05 07:08:09\t" + y + L"\r\n"},
      {Format(L"net %s failed: %d", L"卸载", 12029), L"net 卸载 failed: 12029"},
      {Format(L"0x%04x", 255), L"0x00ff"}, {Format(L"%s!", (z + z).c_str()), z}, {Format(L"%s", z.c_str()), z},
      {Format(L"%s", (a + L"\U0001F600").c_str()), a}};  // a pair straddling the cut is not split
  for (const auto& [made, expected] : rows) EXPECT_EQ(expected, made);
}

// A log's messages; fails on anything that is not a whole line.
Texts Messages(const std::string& bytes) {
  static const std::regex line(R"(\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\t([^\r\n]*)\r\n)");
  Texts messages;
  size_t covered = 0;
  for (auto it = std::sregex_iterator(bytes.begin(), bytes.end(), line); it != std::sregex_iterator(); ++it) {
    EXPECT_EQ(covered, static_cast<size_t>(it->position())) << "stray bytes in the log";
    covered = it->position() + it->length();
    messages.push_back((*it)[1]);
  }
  EXPECT_EQ(bytes.size(), covered) << "stray bytes at the end of the log";
  return messages;
}

// The "debug" switch is one value of the machine: the run holds the lock on it, and each test
// leaves it absent in both views, as it found it.
class LogSwitch : public ::testing::Test {
 protected:
  void SetUp() override {
    Clear();
    dir_ = kvtest::FolderWith(L"log_switch", {L"kvtesthelper.exe"});
  }
  void TearDown() override { Clear(); }
  static void Clear() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) kvtest::DeleteRegValue(HKEY_LOCAL_MACHINE, kKey, L"debug", view);
  }
  // The helper logs from its folder; the messages of the one log file there ("-": not one file).
  Texts Log(const std::wstring& command) {
    kvtest::Helper(L"log " + command, dir_, dir_ + L"kvtesthelper.exe");
    const std::vector<std::wstring> files = kvtest::FileNames(dir_ + L"KV-*.log");
    name_ = files.size() == 1 ? files[0] : L"";
    return files.empty() ? Texts{} : files.size() > 1 ? Texts{"-"} : Messages(kvtest::ReadAll(dir_ + name_));
  }
  static constexpr wchar_t kKey[] = L"SOFTWARE\\Quarell";
  std::wstring dir_, name_;
};

TEST_F(LogSwitch, OnlyExactlyOneSwitchesOnAndMessagesAreCut) {
  const std::string w1023(1023, 'w');
  // {switch value (null: absent), what the helper logs, the log's messages afterwards}
  const struct { const wchar_t* value; std::wstring command; Texts after; } rows[] = {
      {nullptr, L"write nothing", {}}, {L"01", L"write off", {}}, {L"1 ", L"write off", {}},
      {L"true", L"write off", {}}, {L"", L"write off", {}}, {L"11", L"write off", {}},
      {L" 1", L"write off", {}}, {L"1", L"write first", {"first"}},
      {L"1", L"write2 second 7", {"first", "second=7"}},
      {L"1", L"write2 " + std::wstring(1100, L'w') + L" 5", {"first", "second=7", w1023}}};  // "=5" cut off
  for (const auto& r : rows) {
    if (r.value) kvtest::SetRegText(HKEY_LOCAL_MACHINE, kKey, L"debug", r.value, isWow64() ? KEY_WOW64_32KEY : 0);
    EXPECT_EQ(r.after, Log(r.command)) << kvtest::Utf8(r.value ? r.value : L"(absent)");
  }
}

// Forced on without a value, into today's file, in the system's ANSI code page without a mark.
TEST_F(LogSwitch, LinesAreAnsiOfTheCodePageInTodaysFile) {
  SYSTEMTIME before = {}, after = {};
  ::GetLocalTime(&before);
  const Texts messages = Log(L"force 卸载");
  ::GetLocalTime(&after);
  EXPECT_TRUE(name_ == kv::LogFileNameFor(L"", before) || name_ == kv::LogFileNameFor(L"", after)) << kvtest::Utf8(name_);
  char expected[16] = "\xD0\xB6\xD4\xD8";  // GBK, on the product's own system
  if (::GetACP() != 936) ::WideCharToMultiByte(CP_ACP, 0, L"卸载", -1, expected, sizeof(expected), nullptr, nullptr);
  EXPECT_EQ(Texts{expected}, messages) << "code page " << ::GetACP();
  EXPECT_EQ(std::string::npos, kvtest::ReadAll(dir_ + name_).find("\xEF\xBB\xBF")) << "no byte-order mark";
}

// The 32-bit view is read first; under WOW64 the 64-bit view is the fallback.
TEST_F(LogSwitch, ViewsOfTheSwitch) {
  ASSERT_TRUE(kvtest::ExpectedWow64() < 0 || kvtest::ExpectedWow64() == isWow64()) << "not the prefix asked for";
  if (!isWow64()) GTEST_SKIP() << "the 64-bit view exists only for a 32-bit process on 64-bit Windows";
  kvtest::SetRegText(HKEY_LOCAL_MACHINE, kKey, L"debug", L"1", KEY_WOW64_64KEY);
  EXPECT_EQ(Texts{"only-64"}, Log(L"write only-64"));
  kvtest::SetRegText(HKEY_LOCAL_MACHINE, kKey, L"debug", L"0", KEY_WOW64_32KEY);  // a readable 32-bit value wins
  EXPECT_EQ(Texts{"only-64"}, Log(L"write hidden"));
}

// The live channel: a block of the test's own, read back whole.
std::wstring Block(const std::wstring& name) {
  std::vector<wchar_t> block(2048, L'\0');
  EXPECT_EQ(1, ReadShareMem2(name.c_str(), block.data(), 4096, 0));
  return std::wstring(block.data(), block.size());
}

TEST(LogBlock, LinesFollowEachOtherAndCopiesKeepTheBlockAndPosition) {
  const std::wstring name = L"kvtest_logblock_" + std::to_wstring(::GetCurrentProcessId());
  auto original = std::make_unique<CKvLog>();
  original->WriteLog3(L"lost");  // no block yet: the position moves all the same
  SYSTEMTIME now = {};
  ::GetLocalTime(&now);
  const size_t lost = kv::LogLineFor(now, L"lost").size();
  original->SetMemName(name.c_str(), 4096);
  original->WriteLog3(L"first %d", 1);
  original->WriteLog3(L"%s", L"second");
  EXPECT_EQ(std::wstring(lost, L'\0'), Block(name).substr(0, lost));
  CKvLog copy(*original);
  original.reset();  // the copy's own handle keeps the block alive
  copy.WriteLog3(L"two");
  CKvLog assigned;
  assigned = copy;
  assigned.WriteLog3(L"three");
  EXPECT_EQ((Texts{"first 1", "second", "two", "three"}), Messages(kvtest::Utf8(Block(name).c_str() + lost)));
}

TEST(LogBlock, NothingIsWrittenPastTheEnd) {
  const std::wstring name = L"kvtest_logend_" + std::to_wstring(::GetCurrentProcessId());
  constexpr int kBytes = 200;  // far less than the page the system rounds the block up to
  CKvLog log;
  log.SetMemName(name.c_str(), kBytes);
  for (int i = 0; i < 6; ++i) log.WriteLog3(L"abcde%d", i);  // 56 bytes a line
  kv::UniqueHandleKernel mapping(::OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
  ASSERT_TRUE(mapping);
  kv::UniqueView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
  ASSERT_TRUE(view);
  const BYTE* bytes = static_cast<const BYTE*>(view.get());
  MEMORY_BASIC_INFORMATION region = {};
  ASSERT_TRUE(::VirtualQuery(bytes, &region, sizeof(region)) && region.RegionSize > kBytes);
  for (SIZE_T i = kBytes; i < region.RegionSize; ++i) ASSERT_EQ(0, bytes[i]) << "byte " << i;
  // Three whole lines fit (168 bytes and a terminator); the fourth would have crossed the end.
  EXPECT_EQ((Texts{"abcde0", "abcde1", "abcde2"}), Messages(kvtest::Utf8(reinterpret_cast<const wchar_t*>(bytes))));
}

using kvtest::TempRegKey;
const HKEY kUser = HKEY_CURRENT_USER, kMachine = HKEY_LOCAL_MACHINE;

// GetRegInfo as "1|text" or "0"; never a unit written past its room.
std::wstring Read(const TempRegKey& key, const wchar_t* name, int view = 0) {
  wchar_t text[CKvReg::kValueRoom + 8];
  std::wmemset(text, L'z', CKvReg::kValueRoom + 8);
  const int result = GetRegInfo(key.root, key.path.c_str(), name, view, text);
  EXPECT_EQ(L'z', text[CKvReg::kValueRoom]);
  return result ? L"1|" + std::wstring(text) : std::to_wstring(result);
}

TEST(RegValues, WrittenAndReadWithinTheRoom) {
  TempRegKey key(kUser, L"reg_values"), missing(kUser, L"reg_missing", {});
  EXPECT_EQ(1, SetRegInfo(kUser, key.path.c_str(), L"name", 0, L"栎禾 value"));
  EXPECT_EQ(0, SetRegInfo(kUser, missing.path.c_str(), L"v", 0, L"x"));
  EXPECT_FALSE(kvtest::KeyExists(kUser, missing.path)) << "a write to a missing key creates nothing";
  const DWORD ab = 0x00420041;  // 'A', 'B' in UTF-16: other types read as their bytes
  kvtest::SetRegRaw(kUser, key.path, L"number", REG_DWORD, &ab, sizeof(ab));
  kvtest::SetRegText(kUser, key.path, L"fits", std::wstring(129, L'a'));
  kvtest::SetRegText(kUser, key.path, L"long", std::wstring(130, L'b'));  // no room for its end
  const std::pair<const wchar_t*, std::wstring> rows[] = {
      {L"name", L"1|栎禾 value"}, {L"absent", L"0"}, {L"number", L"1|AB"},
      {L"fits", L"1|" + std::wstring(129, L'a')}, {L"long", L"0"}};
  for (const auto& [name, want] : rows) EXPECT_EQ(want, Read(key, name)) << kvtest::Utf8(name);
  EXPECT_EQ(L"0", Read(missing, L"v"));
  // 130 units stored without a terminator still end within the caller's 130.
  kvtest::SetRegRaw(kUser, key.path, L"bare", REG_SZ, std::wstring(130, L'b').c_str(), 260);
  const std::wstring bare = Read(key, L"bare");
  if (bare == L"0") GTEST_SKIP() << "this registry wants room for the terminator the value lacks";
  EXPECT_EQ(L"1|" + std::wstring(129, L'b'), bare);
}

// One key under HKLM\Software, which WOW64 keeps apart for each view.
TEST(RegView, FlagChoosesTheView) {
  ASSERT_TRUE(kvtest::ExpectedWow64() < 0 || kvtest::ExpectedWow64() == isWow64()) << "not the prefix asked for";
  TempRegKey key(kMachine, L"reg_view", {}), only64(kMachine, L"reg_view64", {});
  kvtest::SetRegText(kMachine, key.path, L"which", L"32", KEY_WOW64_32KEY);
  kvtest::SetRegText(kMachine, key.path, L"which", L"64", KEY_WOW64_64KEY);
  kvtest::SetRegText(kMachine, only64.path, L"v", L"x", KEY_WOW64_64KEY);
  const bool two = isWow64();  // outside WOW64 both flags reach the one view
  EXPECT_EQ(two ? L"1|32 1|64" : L"1|64 1|64", Read(key, L"which", 0) + L" " + Read(key, L"which", 1));
  EXPECT_EQ(1, SetRegInfo(kMachine, key.path.c_str(), L"which", 1, L"sixty-four"));
  EXPECT_EQ(two ? L"1|32 1|sixty-four" : L"1|sixty-four 1|sixty-four", Read(key, L"which", 0) + L" " + Read(key, L"which", 1));
  EXPECT_EQ(two ? L"0 1|x" : L"1|x 1|x", Read(only64, L"v", 0) + L" " + Read(only64, L"v", 1));
}

TEST(RegAutoRunView, OwnPathOrCommandInTheProcessViewThenOff) {
  const std::wstring name = L"kvtest_autorun_" + std::to_wstring(::GetCurrentProcessId());
  const wchar_t run[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  auto value = [&](REGSAM view) {
    bool found = false;
    const std::wstring text = kvtest::RegText(kMachine, run, name.c_str(), view, &found);
    return found ? text : L"(none)";
  };
  ASSERT_EQ(1, SetAutoRun(name.c_str(), 1, nullptr));
  EXPECT_EQ(kvtest::BinDir() + L"services_tests.exe", value(0));
  ASSERT_EQ(1, SetAutoRun(name.c_str(), 1, L"\"C:\\app\\x.exe\" /silent"));
  EXPECT_EQ(L"\"C:\\app\\x.exe\" /silent", value(KEY_WOW64_32KEY));
  if (isWow64()) EXPECT_EQ(L"(none)", value(KEY_WOW64_64KEY)) << "a 32-bit program's entry stays out of the 64-bit view";
  EXPECT_EQ(1, SetAutoRun(name.c_str(), 0, nullptr));
  EXPECT_EQ(L"(none)", value(0));
  EXPECT_EQ(1, SetAutoRun(name.c_str(), 0, nullptr)) << "removing a missing entry is no error";
}

// Monitors share the one service and its stop flag: each test ends with every monitor stopped.
void Count(void* calls) { ++*static_cast<std::atomic<int>*>(calls); }
// A change made while the monitor is between its call and re-arming goes unseen: changes go on,
// each a new one, until the monitor has reported.
bool Sees(std::atomic<int>& calls, int n, const std::function<void(int)>& change, DWORD ms = kHang) {
  int i = 0;
  return kvtest::PollUntil([&] { return calls.load() >= n || (change(i++), false); }, ms);
}
bool MonitorsEnd() { return kvtest::PollUntil([] { return kv::RunningRegMonitors() == 0; }, kHang); }
std::function<void(int)> AddKey(const TempRegKey& key, const std::wstring& under, REGSAM view = 0) {
  return [&key, under, view](int i) { kvtest::SetRegRaw(key.root, key.path + under + std::to_wstring(i), nullptr, 0, nullptr, 0, view); };
}

TEST(RegMonitor, OnceAtStartThenPerChangeOfTheSubtreeUntilStopped) {
  // {change, made until seen; a fresh key and monitor each}
  const struct { const char* what; std::wstring under; } rows[] = {
      {"a new subkey", L"\\child"}, {"a key further down", L"\\deep\\grandchild"}, {"a changed value", L""}};
  bool values = true;
  for (const auto& r : rows) {
    TempRegKey key(kUser, L"reg_monitor");
    kvtest::SetRegRaw(kUser, key.path + L"\\deep", nullptr, 0, nullptr, 0);
    std::atomic<int> calls{0};
    StartMonitor(kUser, key.path.c_str(), 0, &Count, &calls);
    ASSERT_TRUE(Sees(calls, 1, [](int) {})) << "once right after the start";
    if (&r == rows) EXPECT_FALSE(Sees(calls, 2, [](int) {}, 1200)) << "and not again in two rounds without a change";
    auto value = [&](int i) { kvtest::SetRegText(kUser, key.path, L"v", std::to_wstring(i)); };
    const bool seen = r.under.empty() ? Sees(calls, 2, value, 3000) : Sees(calls, 2, AddKey(key, r.under));
    StopMonitor();
    EXPECT_TRUE(MonitorsEnd()) << "a stop ends the monitor within one of its rounds";
    if (r.under.empty()) values = seen;
    else EXPECT_TRUE(seen) << r.what;
  }
  if (!values) GTEST_SKIP() << "this registry keeps a key's first filter (names only): a changed value goes unseen";
}

TEST(RegMonitor, ARestartRevivesNoStoppedMonitor) {
  TempRegKey a(kUser, L"reg_mon_a"), b(kUser, L"reg_mon_b");
  std::atomic<int> first{0}, second{0};
  StartMonitor(kUser, a.path.c_str(), 0, &Count, &first);
  ASSERT_TRUE(Sees(first, 1, [](int) {}));
  StopMonitor();
  StartMonitor(kUser, b.path.c_str(), 0, &Count, &second);
  ASSERT_TRUE(Sees(second, 1, [](int) {}));
  EXPECT_TRUE(kvtest::PollUntil([] { return kv::RunningRegMonitors() == 1; }, kHang)) << "only the new one runs";
  EXPECT_TRUE(Sees(second, 2, [&](int i) { AddKey(a, L"\\child")(i), AddKey(b, L"\\child")(i); }));
  EXPECT_EQ(1, first.load());
  StopMonitor();
  EXPECT_TRUE(MonitorsEnd());
}

TEST(RegMonitorView, LoopOnTheCallingThreadInTheChosenView) {
  TempRegKey key(kMachine, L"reg_monview", {KEY_WOW64_64KEY}), missing(kUser, L"reg_loop_missing", {});
  CKvReg& reg = CKvReg::Instance();
  std::atomic<int> calls{0};
  reg.StopMonitor();
  EXPECT_EQ(0, reg.MonitorReg(kUser, missing.path.c_str(), 0, &Count, nullptr)) << "a missing key ends at once";
  // Under WOW64 flag 0 is the 32-bit view, where this key does not exist.
  EXPECT_EQ(isWow64() ? 0 : 1, reg.MonitorReg(kMachine, key.path.c_str(), 0, &Count, &calls));
  EXPECT_EQ(0, calls.load()) << "a loop started after a stop ends at once";
  reg.StartMonitor(kUser, missing.path.c_str(), 0, &Count, nullptr);  // only a start clears the stop
  auto loop = std::async(std::launch::async, [&] { return reg.MonitorReg(kMachine, key.path.c_str(), 1, &Count, &calls); });
  ASSERT_TRUE(Sees(calls, 1, [](int) {}));
  EXPECT_TRUE(Sees(calls, 2, AddKey(key, L"\\child", KEY_WOW64_64KEY)));
  reg.StopMonitor();
  ASSERT_EQ(std::future_status::ready, loop.wait_for(std::chrono::milliseconds(kHang)));
  EXPECT_EQ(1, loop.get());
  EXPECT_TRUE(MonitorsEnd());
}

}  // namespace
