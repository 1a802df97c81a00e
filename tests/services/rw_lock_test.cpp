#include "services/rw_lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

constexpr DWORD kSettleMs = 200;     // long enough for a thread that could proceed to do so
constexpr DWORD kDeadlineMs = 10000;  // generous: the machine is shared

// Runs body on a thread and tells when it has finished.
class Worker {
 public:
  template <typename F>
  explicit Worker(F body) : done_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
    thread_ = std::thread([this, body] {
      body();
      ::SetEvent(done_);
    });
  }
  ~Worker() {
    if (thread_.joinable()) thread_.join();
    ::CloseHandle(done_);
  }
  bool FinishedWithin(DWORD ms) { return ::WaitForSingleObject(done_, ms) == WAIT_OBJECT_0; }

 private:
  HANDLE done_;
  std::thread thread_;
};

TEST(ReadWriteLock, NewLockIsFree) {
  CLock lock;
  EXPECT_FALSE(lock.IsLockWrite());
  EXPECT_FALSE(lock.IsLockRead());
}

TEST(ReadWriteLock, WriterAlsoSetsTheReadFlag) {
  CLock lock;
  lock.Lock();
  EXPECT_TRUE(lock.IsLockWrite());
  EXPECT_TRUE(lock.IsLockRead());
  lock.Unlock();
  EXPECT_FALSE(lock.IsLockWrite());
  EXPECT_FALSE(lock.IsLockRead());
}

TEST(ReadWriteLock, WriterWaitsForTheLastReader) {
  CLock lock;
  lock.LockRead();
  lock.LockRead();
  EXPECT_TRUE(lock.IsLockRead());
  EXPECT_FALSE(lock.IsLockWrite());

  std::atomic<bool> wrote{false};
  Worker writer([&] {
    lock.Lock();
    wrote = true;
    lock.Unlock();
  });
  EXPECT_FALSE(writer.FinishedWithin(kSettleMs));
  lock.UnlockRead();
  EXPECT_TRUE(lock.IsLockRead());
  EXPECT_FALSE(writer.FinishedWithin(kSettleMs));
  EXPECT_FALSE(wrote);
  lock.UnlockRead();
  EXPECT_TRUE(writer.FinishedWithin(kDeadlineMs));
  EXPECT_TRUE(wrote);
  EXPECT_FALSE(lock.IsLockRead());
}

TEST(ReadWriteLock, ReadersWaitForTheWriterAndThenShare) {
  CLock lock;
  lock.Lock();
  std::atomic<int> inside{0};
  std::atomic<int> most{0};
  HANDLE both_in = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto reader = [&] {
    lock.LockRead();
    const int now = ++inside;
    int seen = most.load();
    while (now > seen && !most.compare_exchange_weak(seen, now)) {}
    if (now == 2) ::SetEvent(both_in);
    // Both readers must be able to be inside together.
    ::WaitForSingleObject(both_in, kDeadlineMs);
    --inside;
    lock.UnlockRead();
  };
  Worker first(reader), second(reader);
  EXPECT_FALSE(first.FinishedWithin(kSettleMs));
  EXPECT_EQ(0, inside.load());
  lock.Unlock();
  EXPECT_TRUE(first.FinishedWithin(kDeadlineMs));
  EXPECT_TRUE(second.FinishedWithin(kDeadlineMs));
  EXPECT_EQ(2, most.load());
  EXPECT_FALSE(lock.IsLockRead());
  ::CloseHandle(both_in);
}

TEST(ReadWriteLock, WritersExcludeEachOther) {
  CLock lock;
  lock.Lock();
  Worker other([&] {
    lock.Lock();
    lock.Unlock();
  });
  EXPECT_FALSE(other.FinishedWithin(kSettleMs));
  lock.Unlock();
  EXPECT_TRUE(other.FinishedWithin(kDeadlineMs));
}

TEST(ReadWriteLock, WriterMayReadInsideItsWriteLock) {
  CLock lock;
  lock.Lock();
  lock.LockRead();  // passes through the gate this thread already holds
  EXPECT_TRUE(lock.IsLockWrite());
  EXPECT_TRUE(lock.IsLockRead());
  lock.UnlockRead();
  EXPECT_TRUE(lock.IsLockWrite());

  // Still write-held: another thread's read waits until Unlock.
  Worker reader([&] {
    lock.LockRead();
    lock.UnlockRead();
  });
  EXPECT_FALSE(reader.FinishedWithin(kSettleMs));
  lock.Unlock();
  EXPECT_TRUE(reader.FinishedWithin(kDeadlineMs));
  EXPECT_FALSE(lock.IsLockWrite());
  EXPECT_FALSE(lock.IsLockRead());
}

TEST(ReadWriteLock, LastReaderOnAnotherThreadOpensTheGate) {
  CLock lock;
  lock.LockRead();  // this thread takes the gate
  Worker joiner([&] { lock.LockRead(); });
  ASSERT_TRUE(joiner.FinishedWithin(kDeadlineMs));
  lock.UnlockRead();  // this thread leaves first
  EXPECT_TRUE(lock.IsLockRead());
  Worker leaver([&] { lock.UnlockRead(); });  // a thread that never took the gate opens it
  ASSERT_TRUE(leaver.FinishedWithin(kDeadlineMs));
  EXPECT_FALSE(lock.IsLockRead());
  Worker writer([&] {
    lock.Lock();
    lock.Unlock();
  });
  EXPECT_TRUE(writer.FinishedWithin(kDeadlineMs));
}

TEST(ReadWriteLock, ManyReadersAndWritersLoseNoCounts) {
  CLock lock;
  std::atomic<int> readers_inside{0};
  std::atomic<int> writers_inside{0};
  std::atomic<int> faults{0};
  std::atomic<int> reads{0};
  constexpr int kReaders = 6;
  constexpr int kRounds = 3000;
  std::vector<std::thread> threads;
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
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
      ++writers_inside;
      if (readers_inside.load() != 0 || writers_inside.load() != 1) ++faults;
      // A writer reading under its own lock, mixed in.
      if (i % 10 == 0) {
        lock.LockRead();
        lock.UnlockRead();
      }
      --writers_inside;
      lock.Unlock();
      if (i % 16 == 0) ::Sleep(1);
    }
  });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0, faults.load());
  EXPECT_EQ(kReaders * kRounds, reads.load());
  // A lost or extra count would leave the gate closed or the read flag set.
  EXPECT_FALSE(lock.IsLockRead());
  EXPECT_FALSE(lock.IsLockWrite());
  Worker writer([&] {
    lock.Lock();
    lock.Unlock();
  });
  EXPECT_TRUE(writer.FinishedWithin(kDeadlineMs));
}

TEST(ReadWriteLock, UnbalancedUnlockReadIsHarmless) {
  CLock lock;
  lock.UnlockRead();
  lock.LockRead();
  EXPECT_TRUE(lock.IsLockRead());
  lock.UnlockRead();
  EXPECT_FALSE(lock.IsLockRead());
  Worker writer([&] {
    lock.Lock();
    lock.Unlock();
  });
  EXPECT_TRUE(writer.FinishedWithin(kDeadlineMs));
}

TEST(ReadWriteLock, AssignmentCopiesTheStateOfAFreeLock) {
  CLock a, b;
  b = a;
  EXPECT_FALSE(b.IsLockRead());
  b.Lock();
  b.Unlock();
  // Each lock still owns its own gate: holding one does not hold the other.
  a.Lock();
  Worker writer([&] {
    b.Lock();
    b.Unlock();
  });
  EXPECT_TRUE(writer.FinishedWithin(kDeadlineMs));
  a.Unlock();
}

}  // namespace
