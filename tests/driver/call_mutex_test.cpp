// The connection's call lock: threads that contend for it take turns, none
// is lost asleep, and try_lock never waits.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "driver/core/call_mutex.h"

namespace {

using quarl::driver::CallMutex;

TEST(CallMutex, ContendingThreadsTakeTurnsAndAllFinish) {
  CallMutex mutex;
  // A plain counter: a lost update shows that two threads held the lock at
  // once; a thread left asleep hangs the join.
  uint64_t counter = 0;
  constexpr int kThreads = 4, kRounds = 20000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < kRounds; ++i) {
        std::lock_guard lock(mutex);
        uint64_t seen = counter;
        if (i % 64 == 0) std::this_thread::yield();  // hold it a while now and then
        counter = seen + 1;
      }
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(counter, uint64_t{kThreads} * kRounds);
}

TEST(CallMutex, TryLockFailsWhileHeldAndSucceedsOnceFree) {
  CallMutex mutex;
  ASSERT_TRUE(mutex.try_lock());
  bool other = true;
  std::thread([&] { other = mutex.try_lock(); }).join();
  EXPECT_FALSE(other);
  mutex.unlock();
  std::thread([&] {
    other = mutex.try_lock();
    if (other) mutex.unlock();
  }).join();
  EXPECT_TRUE(other);
}

}  // namespace
