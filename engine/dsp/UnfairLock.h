#pragma once

#include <atomic>
#include <cstdint>

namespace oskel {

// The lightest non-recursive mutual-exclusion lock: an uncontended lock and
// unlock are one atomic instruction each; a contended lock spins briefly and
// then parks the thread on the kernel (a futex on Linux). It never allocates,
// so real-time callbacks may take it for the few instructions a buffer copy
// needs. Owners share it by reference; it is never copied or moved, so its
// address stays stable. Meets the standard Lockable requirements.
class UnfairLock {
 public:
  UnfairLock() noexcept = default;
  UnfairLock(const UnfairLock&) = delete;
  UnfairLock& operator=(const UnfairLock&) = delete;

  void lock() noexcept {
    uint32_t expected = unlocked;
    if (!state_.compare_exchange_strong(expected, locked, std::memory_order_acquire, std::memory_order_relaxed))
      lockSlow();
  }

  bool try_lock() noexcept {
    uint32_t expected = unlocked;
    return state_.compare_exchange_strong(expected, locked, std::memory_order_acquire, std::memory_order_relaxed);
  }

  void unlock() noexcept {
    if (state_.exchange(unlocked, std::memory_order_release) == contended) wakeOne();
  }

 private:
  static constexpr uint32_t unlocked = 0;
  static constexpr uint32_t locked = 1;     // held, nobody parked
  static constexpr uint32_t contended = 2;  // held, a waiter may be parked

  void lockSlow() noexcept;
  void wakeOne() noexcept;

  std::atomic<uint32_t> state_{unlocked};
};

}  // namespace oskel
