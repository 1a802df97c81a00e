// Threads and timers, the read-write lock, the crash handler's filter, the logger and the registry service, seen from
// the threads and processes that use them. Waits are for conditions; a bound only catches a hang.
#include "tests/services/services_fixtures.h"

namespace {

using namespace kvservices;
using Texts = std::vector<std::string>;
constexpr DWORD kSettle = 200;  // long enough for a thread that could go on to do so

struct Ticks {  // a timer's calls; its threads are read once the timers have stopped
  std::atomic<int> count{0};
  std::atomic<DWORD> first{0};
  std::mutex lock;
  std::set<DWORD> threads;
  bool Reach(int n) {
    return kvtest::PollUntil([&] { return count >= n; }, kHang);
  }
};
void Tick(void* param) {
  auto* t = static_cast<Ticks*>(param);
  std::lock_guard<std::mutex> hold(t->lock);
  if (t->count++ == 0) t->first = ::GetTickCount();
  t->threads.insert(::GetCurrentThreadId());
}
unsigned __stdcall TickOnce(void* ticks) { return Tick(ticks), 0; }
unsigned __stdcall WaitForever(void* event) { return ::WaitForSingleObject(event, INFINITE), 5; }

TEST(Timers, EachOnAThreadOfItsOwnAfterAnIntervalLiveIdsKeptKilledIdsReused) {
  CKvThread service;
  Ticks a, b, c, more[25];
  const DWORD start = ::GetTickCount();
  service.StartTimer(7, &Tick, 300, &a), service.StartTimer(7, &Tick, 20, &b);    // a live id keeps its timer
  service.KillTimer(99);                                                          // an unknown id: harmless
  for (int i = 0; i < 25; ++i) service.StartTimer(100 + i, &Tick, 20, &more[i]);  // any number of ids
  ASSERT_TRUE(a.Reach(2));
  service.KillTimer(7);
  const int killed = a.count;
  service.StartTimer(7, &Tick, 100, &c);  // the old thread sleeps on: at its wake-up it must end, not run the new timer
  ASSERT_TRUE(c.Reach(10));
  for (Ticks& t : more) EXPECT_TRUE(t.Reach(3));
  service.Stop();
  EXPECT_GE(a.first - start, 280u);
  EXPECT_EQ("0 1 1 0", std::to_string(b.count) + " " + std::to_string(a.threads.size()) + " " +
                           std::to_string(c.threads.size()) + " " +
                           std::to_string(a.threads.count(::GetCurrentThreadId())));
  EXPECT_LE(a.count, killed + 1) << "only a call under way at the kill may finish";
}

// Whoever ends a thread, its handle is closed exactly once by the time Stop returns and no call comes after; Stop and
// ExitThread end a sleeping thread after their wait rather than wait out its sleep.
TEST(Timers, StopEndsEveryThreadAndEachHandleIsClosedOnce) {
  kv::UniqueHandleKernel never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const struct {
    const char* what;
    std::function<void(CKvThread&, Ticks&)> run;
    bool called;
  } rows[] = {
      {"detached",
       [](CKvThread& s, Ticks& t) {
         EXPECT_EQ(nullptr, s.StartThread(&TickOnce, &t, 1));
         t.Reach(1);
       },
       1},
      {"kept, ends by itself", [](CKvThread& s, Ticks& t) { s.ExitThread(s.StartThread(&TickOnce, &t, 0), 5000); }, 1},
      {"kept, never ends",
       [&](CKvThread& s, Ticks&) { s.ExitThread(s.StartThread(&WaitForever, never.get(), 0), 100); }, 0},
      {"killed, ends by itself",
       [](CKvThread& s, Ticks& t) { s.StartTimer(1, &Tick, 10, &t), t.Reach(1), s.KillTimer(1); }, 1},
      {"running at Stop", [](CKvThread& s, Ticks& t) { s.StartTimer(2, &Tick, 10, &t), t.Reach(2); }, 1},
      {"asleep at Stop", [](CKvThread& s, Ticks& t) { s.StartTimer(3, &Tick, 60000, &t); }, 0},
      {"id reused while asleep",
       [](CKvThread& s, Ticks& t) {
         for (int i = 0; i < 40; ++i) s.StartTimer(4, &Tick, 300, &t), s.KillTimer(4);
       },
       0},
      {"started after Stop", [](CKvThread& s, Ticks& t) { s.Stop(), s.StartTimer(5, &Tick, 10, &t); }, 0}};
  for (const auto& r : rows) {
    const DWORD before = kvtest::OpenHandles(), start = ::GetTickCount();
    Ticks ticks;
    {
      CKvThread service;
      r.run(service, ticks), service.Stop();
      const int stopped = ticks.count;
      EXPECT_FALSE(kvtest::PollUntil([&] { return ticks.count != stopped; }, kSettle)) << r.what;
    }
    EXPECT_LT(::GetTickCount() - start, kHang) << r.what;
    EXPECT_TRUE(kvtest::PollUntil([&] { return kvtest::OpenHandles() == before; }, kSettle))
        << r.what << ": " << kvtest::OpenHandles() - before;
    EXPECT_EQ(r.called, ticks.count > 0) << r.what;
  }
}

// A thread doing one thing with the lock; Within tells whether it has finished by then. A free lock has both flags
// clear and lets a writer on another thread in at once.
struct Worker {
  explicit Worker(std::function<void()> job) : done(std::async(std::launch::async, std::move(job))) {}
  bool Within(DWORD ms) { return done.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready; }
  std::future<void> done;
};
bool Free(CLock& lock) {
  return !lock.IsLockWrite() && !lock.IsLockRead() && Worker([&] { lock.Lock(), lock.Unlock(); }).Within(kHang);
}

TEST(ReadWriteLock, ReadersShareAndTheLastOneOnAnyThreadLetsTheWriterIn) {
  CLock lock;
  lock.LockRead();
  ASSERT_TRUE(Worker([&] { lock.LockRead(); }).Within(kHang)) << "a second reader joins";
  Worker writer([&] { lock.Lock(), lock.Unlock(); });
  lock.UnlockRead();  // the reader that took the gate leaves first
  EXPECT_FALSE(writer.Within(kSettle) || !lock.IsLockRead());
  ASSERT_TRUE(Worker([&] { lock.UnlockRead(); }).Within(kHang));
  EXPECT_TRUE(writer.Within(kHang));
  lock.UnlockRead(), lock.LockRead(), lock.UnlockRead();  // an unbalanced unlock is harmless
  EXPECT_TRUE(Free(lock));
}

// Readers never meet the writer, who reads inside its own lock now and then; a lost or extra count would leave the gate
// closed or the read flag set.
TEST(ReadWriteLock, ManyReadersAndAWriterLoseNoCounts) {
  CLock lock;
  std::atomic<int> readers{0}, writers{0}, faults{0}, reads{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < 6; ++r)
    threads.emplace_back([&] {
      for (int i = 0; i < 3000; ++i) {
        lock.LockRead(), ++readers, faults += writers != 0, ++reads;
        if (i % 64 == 0) ::Sleep(0);
        --readers, lock.UnlockRead();
      }
    });
  for (int i = 0; i < 300; ++i) {
    lock.Lock(), faults += ++writers != 1 || readers != 0;
    if (i % 10 == 0) lock.LockRead(), lock.UnlockRead();
    --writers, lock.Unlock(), ::Sleep(i % 16 == 0);
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ("0 18000", std::to_string(faults) + " " + std::to_string(reads));
  EXPECT_TRUE(Free(lock));
}

// What the filter does with a fault is the end-to-end driver's; here, that it is in force only while its object lives.
TEST(CrashDump, InForceWhileItLivesThenThePreviousFilter) {
  auto in_force = [] {
    auto now = ::SetUnhandledExceptionFilter(nullptr);
    return ::SetUnhandledExceptionFilter(now), now;
  };
  const auto outer = in_force();
  {
    CkvDump dump, stacked;
    EXPECT_NE(outer, in_force());
  }
  EXPECT_EQ(outer, in_force());
}

// A log's messages; what is not a whole line shows as stray.
Texts Messages(const std::string& bytes) {
  static const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\t([^\r\n]*))");
  Texts messages;
  size_t at = 0;
  for (size_t end; (end = bytes.find("\r\n", at)) != std::string::npos; at = end + 2) {
    std::smatch m;
    const std::string text = bytes.substr(at, end - at);
    messages.push_back(std::regex_match(text, m, line) ? m[1].str() : "stray: " + text);
  }
  return at == bytes.size() ? messages : Texts{"stray end: " + bytes.substr(at)};
}

// The machine's "debug" switch, whose lock the run holds: absent in both views, then set as a row says.
void Switch(const wchar_t* value32, const wchar_t* value64 = nullptr) {
  for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY})
    kvtest::DeleteRegValue(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quarell", L"debug", view);
  if (value32) kvtest::SetRegText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quarell", L"debug", value32, KEY_WOW64_32KEY);
  if (value64) kvtest::SetRegText(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Quarell", L"debug", value64, KEY_WOW64_64KEY);
}

// The helper logs from a fresh folder of its own into today's file there, in the system's ANSI code page without a
// mark. Only exactly "1" switches logging on, read in the 32-bit view first and under WOW64 in the 64-bit view when the
// 32-bit one has no value; a message is cut at 1023 units, never inside a surrogate pair.
TEST(LogSwitch, LinesAreWrittenWhenSwitchedOnInTheCodePageAndView) {
  ASSERT_TRUE(kvtest::ExpectedWow64() < 0 || kvtest::ExpectedWow64() == isWow64()) << "not the prefix asked for";
  char chinese[16] = "\xD0\xB6\xD4\xD8";  // 卸载 in GBK, on the product's own system
  if (::GetACP() != 936) ::WideCharToMultiByte(CP_ACP, 0, L"卸载", -1, chinese, sizeof(chinese), nullptr, nullptr);
  const std::wstring w(1100, L'w'), a(1022, L'a');
  // {what the helper logs, the log's messages, the switch in the 32-bit view, in the 64-bit view}
  const struct {
    std::wstring command;
    Texts log;
    const wchar_t *v32, *v64 = nullptr;
  } rows[] = {{L"write x", {}, nullptr},
              {L"write x", {}, L"01"},
              {L"write x", {}, L"1 "},
              {L"write x", {}, L"true"},
              {L"write x", {}, L""},
              {L"write x", {}, L"11"},
              {L"write x", {}, L" 1"},
              {L"write one", {"one"}, L"1"},
              {L"force 卸载", {chinese}, nullptr},
              {L"write " + w, {kvtest::Utf8(w)}, L"1"},
              {L"write2 second 7", {"second=7"}, L"1"},
              {L"write2 " + w + L" 5", {std::string(1023, 'w')}, L"1"},
              {L"write2 " + a + L"\U0001F600 5", {kvtest::Utf8(a)}, L"1"},
              {L"write only-64", {"only-64"}, nullptr, L"1"},
              {L"write hidden", {}, L"0", L"1"}};
  for (const auto& r : rows) {
    if (r.v64 && !isWow64()) continue;  // one view here: the 64-bit prefix's run has these rows
    Switch(r.v32, r.v64);
    const std::wstring dir = kvtest::FolderWith(L"log", {L"kvtesthelper.exe"});
    SYSTEMTIME before = {}, after = {};
    ::GetLocalTime(&before), kvtest::Helper(L"log " + r.command, dir, dir + L"kvtesthelper.exe"),
        ::GetLocalTime(&after);
    const std::vector<std::wstring> files = kvtest::FileNames(dir + L"KV-*.log");
    EXPECT_EQ(r.log, files.empty() ? Texts{} : Messages(kvtest::ReadAll(dir + files[0])))
        << kvtest::Utf8(r.command.substr(0, 20));
    for (const std::wstring& name : files)
      EXPECT_TRUE(name == kv::LogFileNameFor(L"", before) || name == kv::LogFileNameFor(L"", after));
  }
  Switch(nullptr);
  EXPECT_EQ(L"C:\\app\\KV-2026-3-5.log", kv::LogFileNameFor(L"C:\\app\\", SYSTEMTIME{2026, 3, 0, 5, 7, 8, 9, 0}))
      << "no leading zeros";
}

// The live channel: lines follow each other in a block of the test's own, copies keep the block and the position, and
// nothing goes past the 400 bytes asked for, though the system gives a whole page.
TEST(LogBlock, LinesFollowEachOtherWithinTheBlock) {
  const std::wstring name = L"kvtest_logblock_" + std::to_wstring(::GetCurrentProcessId());
  auto original = std::make_unique<CKvLog>();
  original->WriteLog3(L"lost"), original->SetMemName(name.c_str(), 400),
      original->WriteLog3(L"first %d", 1);  // no block: the position moves on
  CKvLog copy(*original), assigned;
  original.reset(), copy.WriteLog3(L"%s", L"two"), assigned = copy;  // the copy's own handle keeps the block
  for (int i = 0; i < 6; ++i) assigned.WriteLog3(L"line %d", i);     // 28 units a line: four fit
  kv::UniqueHandleKernel mapping(::OpenFileMappingW(FILE_MAP_READ, FALSE, name.c_str()));
  kv::UniqueView view(mapping ? ::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0) : nullptr);
  ASSERT_TRUE(view);
  const auto* units = static_cast<const wchar_t*>(view.get());
  EXPECT_EQ(std::wstring(26, L'\0'), std::wstring(units, 26)) << "where the lost line would be";
  EXPECT_EQ((Texts{"first 1", "two", "line 0", "line 1", "line 2", "line 3"}), Messages(kvtest::Utf8(units + 26)));
  EXPECT_EQ(std::wstring(1848, L'\0'), std::wstring(units + 200, 1848));
}

using kvtest::TempRegKey;
const HKEY kUser = HKEY_CURRENT_USER, kMachine = HKEY_LOCAL_MACHINE;

// GetRegInfo as "1|text" or "0"; never a unit written past its room.
std::wstring Read(const TempRegKey& key, const wchar_t* name, int view = 0) {
  wchar_t text[CKvReg::kValueRoom + 8];
  std::wmemset(text, L'z', CKvReg::kValueRoom + 8);
  const int result = GetRegInfo(key.root, key.path.c_str(), name, view, text);
  EXPECT_EQ(L'z', text[CKvReg::kValueRoom]);
  return result ? L"1|" + std::wstring(text) : L"0";
}

// Flag 1 is the 64-bit view, 0 the 32-bit one under WOW64; outside WOW64 both reach the one view. A write to a missing
// key creates nothing, and a text without room for its terminator is not read. Autorun, a thin wrapper: one smoke row.
TEST(RegValuesView, WrittenAndReadInTheirView) {
  ASSERT_TRUE(kvtest::ExpectedWow64() < 0 || kvtest::ExpectedWow64() == isWow64()) << "not the prefix asked for";
  TempRegKey key(kMachine, L"reg_view", {}), only64(kMachine, L"reg_view64", {}), none(kUser, L"reg_none", {});
  const std::wstring a(129, L'a'), b(130, L'b'), name = L"kvtest_autorun_" + std::to_wstring(::GetCurrentProcessId());
  kvtest::SetRegText(kMachine, key.path, L"which", L"32", KEY_WOW64_32KEY),
      kvtest::SetRegText(kMachine, key.path, L"which", L"old", KEY_WOW64_64KEY);
  kvtest::SetRegText(kMachine, key.path, L"fits", a, KEY_WOW64_32KEY),
      kvtest::SetRegText(kMachine, key.path, L"long", b, KEY_WOW64_32KEY);
  kvtest::SetRegText(kMachine, only64.path, L"v", L"x", KEY_WOW64_64KEY);
  EXPECT_EQ(1, SetRegInfo(kMachine, key.path.c_str(), L"which", 1, L"64"));
  EXPECT_EQ(1, SetRegInfo(kMachine, key.path.c_str(), L"name", 0, L"栎禾 value"));
  EXPECT_EQ(0, SetRegInfo(kUser, none.path.c_str(), L"v", 0, L"x"));
  EXPECT_FALSE(kvtest::KeyExists(kUser, none.path));
  const std::pair<std::wstring, std::wstring> reads[] = {// {read, expected}
                                                         {Read(key, L"which", 0), isWow64() ? L"1|32" : L"1|64"},
                                                         {Read(key, L"which", 1), L"1|64"},
                                                         {Read(only64, L"v", 0), isWow64() ? L"0" : L"1|x"},
                                                         {Read(key, L"name"), L"1|栎禾 value"},
                                                         {Read(key, L"absent"), L"0"},
                                                         {Read(key, L"fits"), L"1|" + a},
                                                         {Read(key, L"long"), L"0"}};
  for (const auto& [got, want] : reads) EXPECT_EQ(want, got);
  const wchar_t run[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
  EXPECT_TRUE(SetAutoRun(name.c_str(), 1, nullptr) &&
              kvtest::RegText(kMachine, run, name.c_str()) == kvtest::BinDir() + L"services_tests.exe");
  EXPECT_TRUE(SetAutoRun(name.c_str(), 0, nullptr) && SetAutoRun(name.c_str(), 0, nullptr) &&
              kvtest::RegText(kMachine, run, name.c_str()).empty());
}

// A text stored without its end is read within the room.
TEST(RegValuesView, IfSupportedTextWithoutItsEndIsReadWithinRoom) {
  TempRegKey key(kMachine, L"reg_bare", {});
  const std::wstring b(130, L'b');
  kvtest::SetRegRaw(kMachine, key.path, L"bare", REG_SZ, b.c_str(), 260, KEY_WOW64_32KEY);
  if (Read(key, L"bare") == L"0") GTEST_SKIP() << "this registry will not read a text without room for its terminator";
  EXPECT_EQ(L"1|" + std::wstring(129, L'b'), Read(key, L"bare")) << "130 units without their end end within the room";
}

// Monitors share the one service and its stop flag: each test ends with every monitor stopped. A change made between a
// monitor's call and its re-arming goes unseen: changes go on, each a new one, until the monitor has seen one.
void Count(void* calls) { ++*static_cast<std::atomic<int>*>(calls); }
bool Sees(
    std::atomic<int>& calls, int n, const std::function<void(int)>& change = [](int) {}, DWORD ms = kHang) {
  int i = 0;
  return kvtest::PollUntil([&] { return calls >= n || (change(i++), false); }, ms);
}
bool Running(int n) {
  return kvtest::PollUntil([n] { return kv::RunningRegMonitors() == n; }, kHang);
}
std::function<void(int)> AddKey(const TempRegKey& key, const std::wstring& under, REGSAM view = 0) {
  return [&key, under, view](int i) {
    kvtest::SetRegRaw(key.root, key.path + under + std::to_wstring(i), nullptr, 0, nullptr, 0, view);
  };
}

// Calls of a monitor started on a fresh key: once at the start, then whether the given change, made
// until seen, is seen within ms.
bool SeesChange(const TempRegKey& key, bool quietFirst, const std::function<void(int)>& change, DWORD ms) {
  std::atomic<int> calls{0};
  kvtest::SetRegRaw(kUser, key.path + L"\\deep", nullptr, 0, nullptr, 0),
      StartMonitor(kUser, key.path.c_str(), 0, &Count, &calls);
  EXPECT_TRUE(Sees(calls, 1));
  if (quietFirst) {
    EXPECT_FALSE(Sees(
        calls, 2, [](int) {}, 1200))
        << "not again in two rounds without a change";
  }
  const bool seen = Sees(calls, 2, change, ms);
  StopMonitor();
  EXPECT_TRUE(Running(0)) << "a stop ends the loop within one of its rounds";
  return seen;
}

// Once at the start, then once per change anywhere below the key, until a stop ends the loop within one of its rounds.
TEST(RegMonitor, OnceAtStartThenPerChangeOfTheSubtreeUntilStopped) {
  for (const std::wstring under : {L"\\child", L"\\deep\\grandchild"}) {
    TempRegKey key(kUser, L"reg_monitor");
    EXPECT_TRUE(SeesChange(key, under == L"\\child", AddKey(key, under), kHang)) << kvtest::Utf8(under);
  }
}

TEST(RegMonitor, IfSupportedAChangedValueIsSeen) {
  TempRegKey key(kUser, L"reg_monitor");
  auto value = [&](int i) { kvtest::SetRegText(kUser, key.path, L"v", std::to_wstring(i)); };
  if (!SeesChange(key, false, value, 3000))
    GTEST_SKIP() << "this registry keeps a key's first filter (names only): a changed value goes unseen";
}

TEST(RegMonitor, ARestartRevivesNoStoppedMonitor) {
  TempRegKey a(kUser, L"reg_mon_a"), b(kUser, L"reg_mon_b");
  std::atomic<int> first{0}, second{0};
  StartMonitor(kUser, a.path.c_str(), 0, &Count, &first);
  ASSERT_TRUE(Sees(first, 1));
  StopMonitor(), StartMonitor(kUser, b.path.c_str(), 0, &Count, &second);
  ASSERT_TRUE(Sees(second, 1) && Running(1)) << "only the new one runs";
  EXPECT_TRUE(Sees(second, 2, [&](int i) { AddKey(a, L"\\child")(i), AddKey(b, L"\\child")(i); }));
  StopMonitor();
  EXPECT_TRUE(first == 1 && Running(0));
}

// The loop on the calling thread ends at once on a missing key, and while the stop flag stays set from a StopMonitor,
// until a StartMonitor clears it. Under WOW64 flag 0 is the 32-bit view, where the key made in the 64-bit one is
// missing.
TEST(RegMonitorView, LoopOnTheCallingThreadInTheChosenView) {
  TempRegKey key(kMachine, L"reg_monview", {KEY_WOW64_64KEY}), missing(kUser, L"reg_loop_missing", {});
  CKvReg& reg = CKvReg::Instance();
  std::atomic<int> calls{0};
  reg.StopMonitor();
  EXPECT_EQ(0, reg.MonitorReg(kUser, missing.path.c_str(), 0, &Count, nullptr));
  EXPECT_EQ(isWow64() ? 0 : 1, reg.MonitorReg(kMachine, key.path.c_str(), 0, &Count, &calls));
  reg.StartMonitor(kUser, missing.path.c_str(), 0, &Count, nullptr);
  auto loop =
      std::async(std::launch::async, [&] { return reg.MonitorReg(kMachine, key.path.c_str(), 1, &Count, &calls); });
  EXPECT_TRUE(Sees(calls, 1) && Sees(calls, 2, AddKey(key, L"\\child", KEY_WOW64_64KEY)));
  reg.StopMonitor();
  EXPECT_TRUE(loop.wait_for(std::chrono::milliseconds(kHang)) == std::future_status::ready && loop.get() == 1 &&
              Running(0));
}

}  // namespace
