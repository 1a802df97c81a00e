// Worker threads and timers, the read-write lock and the crash handler's filter, seen from the
// threads that use them. Waits are for conditions; a bound only catches a hang.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "services/crash_dump.h"
#include "services/rw_lock.h"
#include "services/thread.h"
#include "tests/services/services_fixtures.h"
#include "tests/support/kvtest.h"
#include "util/handles.h"

namespace {

using kvservices::kHang;

constexpr DWORD kSettle = 200;  // long enough for a thread that could go on to do so

struct Ticks {
  std::atomic<int> count{0};
  std::atomic<DWORD> first{0};
  std::mutex lock;
  std::set<DWORD> threads;
  bool Reach(int n) { return kvtest::PollUntil([&] { return count.load() >= n; }, kHang); }
  size_t Threads() { std::lock_guard<std::mutex> hold(lock); return threads.size(); }
};

void Tick(void* param) {
  auto* t = static_cast<Ticks*>(param);
  std::lock_guard<std::mutex> hold(t->lock);
  if (t->count == 0) t->first = ::GetTickCount();
  t->threads.insert(::GetCurrentThreadId());
  ++t->count;
}

unsigned __stdcall SetFlag(void* flag) { return static_cast<std::atomic<int>*>(flag)->store(1), 0; }
unsigned __stdcall WaitForever(void* event) { return ::WaitForSingleObject(event, INFINITE), 5; }

TEST(Threads, DetachedKeptAndEndedThreads) {
  EXPECT_EQ(GetKvThread(), GetKvThread());
  CKvThread service;
  std::atomic<int> detached{0}, kept{0};
  EXPECT_EQ(nullptr, service.StartThread(&SetFlag, &detached, 1));
  EXPECT_TRUE(kvtest::PollUntil([&] { return detached.load() == 1; }, kHang));
  kv::UniqueHandleKernel never(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  // ExitThread waits for a thread that ends by itself, terminates one that does not (exit code 0,
  // not its own 5) after its wait, and closes the handle either way.
  const struct { KvThreadProc routine; void* param; int wait; DWORD least; } rows[] = {
      {&SetFlag, &kept, 5000, 0}, {&WaitForever, never.get(), 100, 90}};
  for (const auto& r : rows) {
    HANDLE thread = service.StartThread(r.routine, r.param, 0), copy = nullptr;
    ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), thread, ::GetCurrentProcess(), &copy, 0,
                                  FALSE, DUPLICATE_SAME_ACCESS));
    kv::UniqueHandleKernel watch(copy);
    const DWORD start = ::GetTickCount();
    service.ExitThread(thread, r.wait);
    EXPECT_GE(::GetTickCount() - start, r.least);
    DWORD flags = 0, code = 1;
    EXPECT_FALSE(::GetHandleInformation(thread, &flags)) << "closed";
    EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(watch.get(), kHang));
    EXPECT_TRUE(::GetExitCodeThread(watch.get(), &code) && code == 0) << code;
  }
  EXPECT_EQ(1, kept.load());
}

TEST(Timers, FirstCallAfterOneIntervalOnAThreadOfItsOwn) {
  CKvThread service;
  Ticks ticks;
  const DWORD start = ::GetTickCount();
  service.StartTimer(1, &Tick, 300, &ticks);
  ASSERT_TRUE(ticks.Reach(1));
  EXPECT_GE(ticks.first.load() - start, 280u);
  EXPECT_EQ(0u, ticks.threads.count(::GetCurrentThreadId()));
}

TEST(Timers, LiveIdRefusedUnknownKillHarmlessKilledIdReused) {
  CKvThread service;
  Ticks a, b, c;
  service.StartTimer(7, &Tick, 20, &a);
  service.StartTimer(7, &Tick, 20, &b);
  service.KillTimer(99);
  ASSERT_TRUE(a.Reach(4));
  EXPECT_EQ(0, b.count.load());
  EXPECT_EQ(1u, a.Threads());
  service.KillTimer(7);
  const int at_kill = a.count.load();
  service.StartTimer(7, &Tick, 20, &c);
  ASSERT_TRUE(c.Reach(4));
  EXPECT_LE(a.count.load(), at_kill + 1) << "only a call under way at the kill may finish";
}

// The old thread still sleeps in its long interval when the id starts again: at its wake-up it
// must end rather than run the new timer beside the new thread.
TEST(Timers, ReusedIdNeverRunsOnTheOldThread) {
  CKvThread service;
  Ticks old_ticks, new_ticks;
  service.StartTimer(5, &Tick, 400, &old_ticks);
  service.KillTimer(5);
  service.StartTimer(5, &Tick, 100, &new_ticks);
  ASSERT_TRUE(new_ticks.Reach(10));  // well after the old thread's wake-up
  EXPECT_EQ(0, old_ticks.count.load());
  EXPECT_EQ(1u, new_ticks.Threads());
}

TEST(Timers, MoreThanTenIdsKeepRunning) {
  CKvThread service;
  Ticks ticks[25];
  for (int i = 0; i < 25; ++i) service.StartTimer(100 + i, &Tick, 20, &ticks[i]);
  for (int i = 0; i < 25; ++i) EXPECT_TRUE(ticks[i].Reach(3)) << "timer " << i;
}

// Whoever ends a timer's thread, its handle is closed exactly once by the time Stop returns, and
// no call comes after; Stop ends a sleeping thread rather than waiting out its interval.
TEST(Timers, StopEndsEveryTimerAndEachHandleIsClosedOnce) {
  // {what, timers before Stop, whether any call was made}
  const struct { const char* what; std::function<void(CKvThread&, Ticks&)> run; bool called; } rows[] = {
      {"killed, ends by itself", [](CKvThread& s, Ticks& t) { s.StartTimer(1, &Tick, 10, &t), t.Reach(1), s.KillTimer(1); }, true},
      {"running at Stop", [](CKvThread& s, Ticks& t) { s.StartTimer(2, &Tick, 10, &t), t.Reach(2); }, true},
      {"asleep at Stop", [](CKvThread& s, Ticks& t) { s.StartTimer(3, &Tick, 60000, &t); }, false},
      {"id reused while asleep", [](CKvThread& s, Ticks& t) {
         for (int i = 0; i < 40; ++i) s.StartTimer(4, &Tick, 300, &t), s.KillTimer(4);
       }, false},
      {"started after Stop", [](CKvThread& s, Ticks& t) { s.Stop(), s.StartTimer(5, &Tick, 10, &t); }, false}};
  for (const auto& r : rows) {
    const DWORD before = kvtest::OpenHandles();
    Ticks ticks;
    {
      CKvThread service;
      r.run(service, ticks);
      const DWORD start = ::GetTickCount();
      service.Stop();
      EXPECT_LT(::GetTickCount() - start, kHang) << r.what;
      const int stopped = ticks.count.load();
      EXPECT_FALSE(kvtest::PollUntil([&] { return ticks.count.load() != stopped; }, kSettle)) << r.what;
    }
    EXPECT_EQ(before, kvtest::OpenHandles()) << r.what;
    EXPECT_EQ(r.called, ticks.count.load() > 0) << r.what;
  }
}

// One thread doing one thing with the lock; Within tells whether it has finished by then.
struct Worker {
  explicit Worker(std::function<void()> job) : done(std::async(std::launch::async, std::move(job))) {}
  bool Within(DWORD ms) { return done.wait_for(std::chrono::milliseconds(ms)) == std::future_status::ready; }
  std::future<void> done;
};

// The flags as "write read"; a free lock lets a writer on another thread in at once.
std::string Flags(CLock& lock) { return std::to_string(lock.IsLockWrite()) + " " + std::to_string(lock.IsLockRead()); }
void ExpectFree(CLock& lock) {
  EXPECT_EQ("0 0", Flags(lock));
  EXPECT_TRUE(Worker([&] { lock.Lock(); lock.Unlock(); }).Within(kHang));
}

TEST(ReadWriteLock, WriterExcludesEveryoneAndMayReadInsideItsLock) {
  CLock lock;
  lock.Lock();
  lock.LockRead();  // through the gate this thread holds
  EXPECT_EQ("1 1", Flags(lock));
  lock.UnlockRead();
  EXPECT_TRUE(lock.IsLockWrite());
  Worker writer([&] { lock.Lock(); lock.Unlock(); }), reader([&] { lock.LockRead(); lock.UnlockRead(); });
  EXPECT_FALSE(writer.Within(kSettle));
  EXPECT_FALSE(reader.Within(0));
  lock.Unlock();
  EXPECT_TRUE(writer.Within(kHang) && reader.Within(kHang));
  ExpectFree(lock);
}

TEST(ReadWriteLock, ReadersShareAndTheLastOneLetsTheWriterIn) {
  CLock lock;
  lock.LockRead();
  ASSERT_TRUE(Worker([&] { lock.LockRead(); }).Within(kHang)) << "a second reader joins";
  EXPECT_EQ("0 1", Flags(lock));
  Worker writer([&] { lock.Lock(); lock.Unlock(); });
  EXPECT_FALSE(writer.Within(kSettle));
  lock.UnlockRead();  // the thread that took the gate leaves first
  EXPECT_FALSE(writer.Within(kSettle));
  ASSERT_TRUE(Worker([&] { lock.UnlockRead(); }).Within(kHang)) << "the last reader opens the gate";
  EXPECT_TRUE(writer.Within(kHang));
  ExpectFree(lock);
  lock.UnlockRead();  // unbalanced: harmless, the next reader still opens and closes the gate
  lock.LockRead();
  lock.UnlockRead();
  ExpectFree(lock);
}

TEST(ReadWriteLock, ReadersWaitForTheWriterThenShare) {
  CLock lock;
  lock.Lock();
  std::atomic<int> inside{0};
  auto reader = [&] {
    lock.LockRead();
    ++inside;
    kvtest::PollUntil([&] { return inside.load() == 2; }, kHang);  // both inside together
    lock.UnlockRead();
  };
  Worker first(reader), second(reader);
  EXPECT_FALSE(first.Within(kSettle));
  EXPECT_EQ(0, inside.load());
  lock.Unlock();
  EXPECT_TRUE(first.Within(kHang) && second.Within(kHang));
  EXPECT_EQ(2, inside.load());
  ExpectFree(lock);
}

TEST(ReadWriteLock, ManyReadersAndAWriterLoseNoCounts) {
  CLock lock, other;
  std::atomic<int> readers{0}, writers{0}, faults{0}, reads{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < 6; ++r)
    threads.emplace_back([&] {
      for (int i = 0; i < 3000; ++i) {
        lock.LockRead();
        ++readers;
        faults += writers.load() != 0;
        ++reads;
        if (i % 64 == 0) ::Sleep(0);
        --readers;
        lock.UnlockRead();
      }
    });
  threads.emplace_back([&] {
    for (int i = 0; i < 300; ++i) {
      lock.Lock();
      faults += ++writers != 1 || readers.load() != 0;
      if (i % 10 == 0) lock.LockRead(), lock.UnlockRead();
      --writers;
      lock.Unlock();
      if (i % 16 == 0) ::Sleep(1);
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, faults.load());
  EXPECT_EQ(6 * 3000, reads.load());
  ExpectFree(lock);  // a lost or extra count leaves the gate closed or the read flag set
  other = lock;      // copies a free lock's state; each keeps its own gate
  lock.Lock();
  ExpectFree(other);
  lock.Unlock();
}

LONG WINAPI Earlier(EXCEPTION_POINTERS*) { return EXCEPTION_CONTINUE_SEARCH; }
LPTOP_LEVEL_EXCEPTION_FILTER InForce() {
  LPTOP_LEVEL_EXCEPTION_FILTER now = ::SetUnhandledExceptionFilter(nullptr);
  ::SetUnhandledExceptionFilter(now);
  return now;
}

// What the filter does with a fault is the end-to-end driver's: here, which filter is in force.
TEST(CrashDump, InForceWhileItLivesThenThePreviousFilter) {
  const LPTOP_LEVEL_EXCEPTION_FILTER outer = ::SetUnhandledExceptionFilter(Earlier);
  LPTOP_LEVEL_EXCEPTION_FILTER mine = nullptr;
  {
    CkvDump dump;
    mine = InForce();
    EXPECT_TRUE(mine != nullptr && mine != Earlier);
    { CkvDump inner; }  // stacks on the first and gives it back
    EXPECT_EQ(mine, InForce());
  }
  EXPECT_EQ(Earlier, InForce());
  CkvDump* first = GetKvDump();
  InstallDump(L"name", L"tag");
  InstallDump(nullptr, nullptr);  // null texts are taken as empty
  EXPECT_TRUE(first != nullptr && first == GetKvDump());
  EXPECT_EQ(mine, InForce()) << "the process-wide handler is in force once made";
  ::SetUnhandledExceptionFilter(outer);
}

}  // namespace
