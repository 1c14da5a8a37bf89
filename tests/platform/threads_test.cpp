#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <vector>

#include "platform/last_error.h"
#include "platform/threads.h"

using namespace plat;
using namespace std::chrono_literals;

// Threads moved about (a growing vector moves them) are joined by whoever
// holds them last, and the lock keeps their increments whole.
TEST(PlatformThreads, LockedCountsAddUpAcrossMovedThreads) {
  constexpr int kThreads = 6, kRounds = 20000;
  Mutex mutex;
  long counter = 0;
  std::vector<Thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        std::lock_guard<Mutex> lock(mutex);
        ++counter;
      }
    });
  }
  Thread last(std::move(threads.back()));
  threads.pop_back();
  EXPECT_TRUE(last.Joinable());
  last.Join();
  EXPECT_FALSE(last.Joinable());
  for (Thread& t : threads) t.Join();
  EXPECT_EQ(counter, long{kThreads} * kRounds);
  EXPECT_GE(ProcessorCount(), 1u);
}

// A waiter wakes for what it waits for and answers; a wait with no one to
// wake it times out, and leaves the thread's last error as it was.
TEST(PlatformThreads, ConditionWakesWaitersAndTimesOut) {
  Mutex mutex;
  Condition changed;
  int stage = 0;
  Thread waiter([&] {
    std::unique_lock<Mutex> lock(mutex);
    changed.Wait(lock, [&] { return stage == 1; });
    stage = 2;
    changed.NotifyAll();
  });
  {
    std::unique_lock<Mutex> lock(mutex);
    stage = 1;
    changed.NotifyOne();
    changed.Wait(lock, [&] { return stage == 2; });
  }
  waiter.Join();

  std::unique_lock<Mutex> lock(mutex);
  SetLastError(ERROR_DISK_FULL);
  bool timedOut = false;
  for (int attempt = 0; attempt < 5 && !timedOut; ++attempt)  // spurious wake-ups
    timedOut = !changed.WaitFor(lock, 5ms);
  EXPECT_TRUE(timedOut);
  EXPECT_TRUE(lock.owns_lock());
  EXPECT_EQ(GetLastError(), ERROR_DISK_FULL);
}

TEST(PlatformThreads, TryLockFailsWhileAnotherThreadHolds) {
  Mutex mutex;
  std::atomic<int> got{-1};
  const auto tryFromAnotherThread = [&] {
    Thread t([&] {
      const bool locked = mutex.try_lock();
      if (locked) mutex.unlock();
      got = locked ? 1 : 0;
    });
    t.Join();
    return got.load();
  };
  mutex.lock();
  EXPECT_EQ(tryFromAnotherThread(), 0);
  mutex.unlock();
  EXPECT_EQ(tryFromAnotherThread(), 1);
}
