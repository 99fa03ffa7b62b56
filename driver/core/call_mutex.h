// The lock that serializes the calls on one connection and its statements.
// Every SQLFetch and SQLGetData of the Unicode driver takes it, almost always
// uncontended: one atomic instruction to take it and one to give it back
// (a pthread mutex costs two calls into libc and several times the
// instructions).  Contended, the thread sleeps on the lock word (futex) until
// the holder gives it back.
#pragma once

#include <atomic>
#include <cstdint>

namespace quarl::driver {

class CallMutex {
 public:
  CallMutex() = default;
  CallMutex(const CallMutex&) = delete;
  CallMutex& operator=(const CallMutex&) = delete;

  // Inline everywhere: each is a few instructions around its atomic one, and
  // a call would give the quick SQLGetData a frame.
  [[gnu::always_inline]] void lock() noexcept {
    uint32_t expected = kFree;
    if (!state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire, std::memory_order_relaxed))
      lock_contended();
  }
  [[gnu::always_inline]] bool try_lock() noexcept {
    uint32_t expected = kFree;
    return state_.compare_exchange_strong(expected, kHeld, std::memory_order_acquire, std::memory_order_relaxed);
  }
  [[gnu::always_inline]] void unlock() noexcept {
    // Only a holder that others wait for wakes one of them.
    if (state_.exchange(kFree, std::memory_order_release) == kWaitedFor) wake_one();
  }
  // unlock, then rc: the wake (rare) is the last call, a jump, so that a
  // caller ending with this one needs no frame for it.
  [[gnu::always_inline]] short unlock_returning(short rc) noexcept {
    if (state_.exchange(kFree, std::memory_order_release) == kWaitedFor) return wake_one_returning(rc);
    return rc;
  }

 private:
  static constexpr uint32_t kFree = 0, kHeld = 1, kWaitedFor = 2;

  // Out of line: the callers that give the lock back uncontended stay short.
  [[gnu::noinline, gnu::cold]] void wake_one() noexcept { state_.notify_one(); }
  [[gnu::noinline, gnu::cold]] short wake_one_returning(short rc) noexcept {
    wake_one();
    return rc;
  }

  void lock_contended() noexcept {
    // Marks the lock as waited for, so that its holder wakes us; whoever
    // takes it this way keeps the mark (it cannot know whether others wait).
    while (state_.exchange(kWaitedFor, std::memory_order_acquire) != kFree)
      state_.wait(kWaitedFor, std::memory_order_relaxed);
  }

  std::atomic<uint32_t> state_{kFree};
};

}  // namespace quarl::driver
