#include "services/thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>

#include "tests/support/shared_helpers.h"

namespace {

struct Ticks {
  std::atomic<int> count{0};
  std::atomic<DWORD> first_tick{0};
  std::mutex lock;
  std::set<DWORD> threads;
};

void Tick(void* param) {
  auto* t = static_cast<Ticks*>(param);
  std::lock_guard<std::mutex> guard(t->lock);
  if (t->count == 0) t->first_tick = ::GetTickCount();
  t->threads.insert(::GetCurrentThreadId());
  ++t->count;
}

unsigned __stdcall SetFlag(void* param) {
  static_cast<std::atomic<int>*>(param)->store(1);
  return 0;
}

unsigned __stdcall Forever(void* param) {
  ::WaitForSingleObject(static_cast<HANDLE>(param), INFINITE);
  return 5;
}

HANDLE Duplicate(HANDLE thread) {
  HANDLE copy = nullptr;
  EXPECT_TRUE(::DuplicateHandle(::GetCurrentProcess(), thread, ::GetCurrentProcess(), &copy, 0,
                                FALSE, DUPLICATE_SAME_ACCESS));
  return copy;
}

TEST(Threads, DetachedOrKeptHandlesAndExitThread) {
  EXPECT_EQ(GetKvThread(), GetKvThread());
  CKvThread service;
  std::atomic<int> detached{0}, kept{0};
  EXPECT_EQ(nullptr, service.StartThread(&SetFlag, &detached, 1));
  EXPECT_TRUE(kvtest::WaitUntil([&] { return detached.load() == 1; }, 2000));
  // A kept handle is closed by ExitThread, which waits for a thread that ends by itself...
  HANDLE thread = service.StartThread(&SetFlag, &kept, 0);
  ASSERT_NE(nullptr, thread);
  HANDLE watch = Duplicate(thread);
  service.ExitThread(thread, 1000);
  DWORD flags = 0, code = 1;
  EXPECT_FALSE(::GetHandleInformation(thread, &flags));  // closed
  EXPECT_TRUE(::GetExitCodeThread(watch, &code));
  EXPECT_EQ(0u, code);  // ended by itself
  EXPECT_EQ(1, kept.load());
  ::CloseHandle(watch);
  // ...and terminates one that does not, after its wait.
  HANDLE never = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  thread = service.StartThread(&Forever, never, 0);
  ASSERT_NE(nullptr, thread);
  watch = Duplicate(thread);
  const DWORD start = ::GetTickCount();
  service.ExitThread(thread, 100);
  const DWORD took = ::GetTickCount() - start;
  EXPECT_GE(took, 90u);
  EXPECT_LT(took, 1000u);
  EXPECT_EQ(WAIT_OBJECT_0, ::WaitForSingleObject(watch, 2000));
  code = 1;
  EXPECT_TRUE(::GetExitCodeThread(watch, &code));
  EXPECT_EQ(0u, code);  // terminated with 0, not its own 5
  ::CloseHandle(watch);
  ::CloseHandle(never);
}

TEST(Timers, FirstCallAfterOneIntervalOnAThreadOfItsOwn) {
  CKvThread service;
  Ticks ticks;
  const DWORD start = ::GetTickCount();
  service.StartTimer(1, &Tick, 300, &ticks);
  ASSERT_TRUE(kvtest::WaitUntil([&] { return ticks.count.load() >= 1; }, 3000));
  const DWORD delay = ticks.first_tick.load() - start;
  EXPECT_GE(delay, 280u);
  EXPECT_LT(delay, 1000u);
  EXPECT_EQ(0u, ticks.threads.count(::GetCurrentThreadId()));
  service.Stop();
}

TEST(Timers, LiveIdIsRefusedUnknownKillHarmlessKilledIdReused) {
  CKvThread service;
  Ticks a, b, c;
  service.StartTimer(7, &Tick, 20, &a);
  service.StartTimer(7, &Tick, 20, &b);
  service.KillTimer(99);
  ::Sleep(300);
  EXPECT_GT(a.count.load(), 3);
  EXPECT_EQ(0, b.count.load());
  EXPECT_EQ(1u, a.threads.size());
  service.KillTimer(7);
  ::Sleep(100);
  const int after_kill = a.count.load();
  service.StartTimer(7, &Tick, 20, &c);
  ::Sleep(300);
  EXPECT_EQ(after_kill, a.count.load());
  EXPECT_GT(c.count.load(), 3);
  service.Stop();
}

// The old thread is still asleep in its long interval when the id is started again: it must end
// at its wake-up instead of running the new timer a second time.
TEST(Timers, ReusedIdNeverRunsOnTheOldThread) {
  CKvThread service;
  Ticks old_ticks, new_ticks;
  service.StartTimer(5, &Tick, 400, &old_ticks);
  ::Sleep(50);
  service.KillTimer(5);
  service.StartTimer(5, &Tick, 100, &new_ticks);
  ::Sleep(1250);
  EXPECT_EQ(0, old_ticks.count.load());
  // One thread, at its own pace: about 12 calls; two threads would give about 15 or more.
  EXPECT_EQ(1u, new_ticks.threads.size());
  EXPECT_GE(new_ticks.count.load(), 8);
  EXPECT_LE(new_ticks.count.load(), 13);
  service.Stop();
}

TEST(Timers, MoreThanTenIdsKeepRunning) {
  CKvThread service;
  Ticks ticks[25];
  for (int i = 0; i < 25; ++i) service.StartTimer(100 + i, &Tick, 20, &ticks[i]);
  ::Sleep(400);
  for (int i = 0; i < 25; ++i) EXPECT_GT(ticks[i].count.load(), 2) << "timer " << i;
  service.Stop();
}

TEST(Timers, StopEndsTimersAndClosesEachHandleOnce) {
  CKvThread service;
  Ticks fast, slow, late;
  DWORD handles_before = 0, handles_after = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handles_before);
  service.StartTimer(1, &Tick, 10, &fast);
  service.StartTimer(2, &Tick, 5000, &slow);  // asleep for long: terminated after 100 ms
  service.KillTimer(1);
  ::Sleep(100);  // timer 1 ends by itself and closes its own handle
  const DWORD start = ::GetTickCount();
  service.Stop();
  EXPECT_LT(::GetTickCount() - start, 1000u);
  const int fast_count = fast.count.load();
  ::Sleep(100);
  EXPECT_EQ(fast_count, fast.count.load());
  EXPECT_EQ(0, slow.count.load());
  ::GetProcessHandleCount(::GetCurrentProcess(), &handles_after);
  EXPECT_EQ(handles_before, handles_after);
  service.StartTimer(9, &Tick, 10, &late);  // after Stop a new timer ends without a call
  ::Sleep(150);
  EXPECT_EQ(0, late.count.load());
}

}  // namespace
