#include "services/rw_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/shared_helpers.h"

namespace {

constexpr DWORD kSettleMs = 200;      // long enough for a thread that could proceed to do so
constexpr DWORD kDeadlineMs = 10000;  // generous: the machine is shared

using kvtest::Worker;

// The two flags as "write read", e.g. "1 1" while a writer holds the lock.
std::string Flags(CLock& lock) {
  return std::to_string(lock.IsLockWrite()) + " " + std::to_string(lock.IsLockRead());
}

// Nobody holds the lock: both flags clear, and a writer on another thread gets in at once.
void ExpectFree(CLock& lock) {
  EXPECT_EQ("0 0", Flags(lock));
  EXPECT_TRUE(Worker([&] { lock.Lock(); lock.Unlock(); }).FinishedWithin(kDeadlineMs));
}

TEST(ReadWriteLock, WriterExcludesOthersAndMayReadInsideItsLock) {
  CLock lock;
  EXPECT_EQ("0 0", Flags(lock));
  lock.Lock();
  EXPECT_EQ("1 1", Flags(lock));
  lock.LockRead();  // passes through the gate this thread already holds
  EXPECT_EQ("1 1", Flags(lock));
  lock.UnlockRead();
  EXPECT_TRUE(lock.IsLockWrite());
  Worker writer([&] { lock.Lock(); lock.Unlock(); }), reader([&] { lock.LockRead(); lock.UnlockRead(); });
  EXPECT_FALSE(writer.FinishedWithin(kSettleMs));
  EXPECT_FALSE(reader.FinishedWithin(0));
  lock.Unlock();
  EXPECT_TRUE(writer.FinishedWithin(kDeadlineMs));
  EXPECT_TRUE(reader.FinishedWithin(kDeadlineMs));
  ExpectFree(lock);
}

TEST(ReadWriteLock, WriterWaitsForTheLastReader) {
  CLock lock;
  lock.LockRead();
  lock.LockRead();
  EXPECT_EQ("0 1", Flags(lock));
  Worker writer([&] { lock.Lock(); lock.Unlock(); });
  EXPECT_FALSE(writer.FinishedWithin(kSettleMs));
  lock.UnlockRead();
  EXPECT_TRUE(lock.IsLockRead());
  EXPECT_FALSE(writer.FinishedWithin(kSettleMs));
  lock.UnlockRead();
  EXPECT_TRUE(writer.FinishedWithin(kDeadlineMs));
  EXPECT_FALSE(lock.IsLockRead());
}

TEST(ReadWriteLock, ReadersWaitForTheWriterAndThenShare) {
  CLock lock;
  lock.Lock();
  std::atomic<int> inside{0}, both{0};
  auto reader = [&] {
    lock.LockRead();
    if (++inside == 2) both = 1;
    kvtest::WaitUntil([&] { return both.load() == 1; }, kDeadlineMs);  // both inside together
    --inside;
    lock.UnlockRead();
  };
  Worker first(reader), second(reader);
  EXPECT_FALSE(first.FinishedWithin(kSettleMs));
  EXPECT_EQ(0, inside.load());
  lock.Unlock();
  EXPECT_TRUE(first.FinishedWithin(kDeadlineMs));
  EXPECT_TRUE(second.FinishedWithin(kDeadlineMs));
  EXPECT_EQ(1, both.load());
  EXPECT_FALSE(lock.IsLockRead());
}

TEST(ReadWriteLock, LastReaderOnAnotherThreadOpensTheGate) {
  CLock lock;
  lock.LockRead();  // this thread takes the gate
  ASSERT_TRUE(Worker([&] { lock.LockRead(); }).FinishedWithin(kDeadlineMs));
  lock.UnlockRead();  // and leaves first
  EXPECT_TRUE(lock.IsLockRead());
  ASSERT_TRUE(Worker([&] { lock.UnlockRead(); }).FinishedWithin(kDeadlineMs));
  ExpectFree(lock);
}

TEST(ReadWriteLock, ManyReadersAndWritersLoseNoCounts) {
  CLock lock;
  std::atomic<int> readers_inside{0}, writers_inside{0}, faults{0}, reads{0};
  std::vector<std::thread> threads;
  for (int r = 0; r < 6; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < 3000; ++i) {
        lock.LockRead();
        ++readers_inside;
        if (writers_inside.load() != 0) ++faults;
        ++reads;
        if (i % 64 == 0) ::Sleep(0);
        --readers_inside;
        lock.UnlockRead();
      }
    });
  }
  threads.emplace_back([&] {
    for (int i = 0; i < 300; ++i) {
      lock.Lock();
      if (++writers_inside != 1 || readers_inside.load() != 0) ++faults;
      if (i % 10 == 0) { lock.LockRead(); lock.UnlockRead(); }  // a writer reading under its lock
      --writers_inside;
      lock.Unlock();
      if (i % 16 == 0) ::Sleep(1);
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, faults.load());
  EXPECT_EQ(6 * 3000, reads.load());
  ExpectFree(lock);  // a lost or extra count would leave the gate closed or the read flag set
}

TEST(ReadWriteLock, UnbalancedUnlockReadAndAssignmentAreHarmless) {
  CLock lock, other;
  lock.UnlockRead();
  lock.LockRead();
  EXPECT_TRUE(lock.IsLockRead());
  lock.UnlockRead();
  ExpectFree(lock);
  other = lock;  // copies the state of a free lock; each keeps its own gate
  lock.Lock();
  ExpectFree(other);
  lock.Unlock();
}

}  // namespace
