#include "dsp/UnfairLock.h"

#if defined(__linux__)
#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace oskel {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) && std::atomic<uint32_t>::is_always_lock_free,
              "the futex waits on the lock word itself");

namespace {

constexpr int spinRounds = 100;

inline void cpuRelax() noexcept {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  asm volatile("yield");
#endif
}

}  // namespace

void UnfairLock::lockSlow() noexcept {
  // A holder usually leaves within a few hundred nanoseconds (one buffer
  // copy), so spinning first avoids a system call in the common case.
  for (int round = 0; round < spinRounds; ++round) {
    cpuRelax();
    if (state_.load(std::memory_order_relaxed) == unlocked) {
      uint32_t expected = unlocked;
      if (state_.compare_exchange_weak(expected, locked, std::memory_order_acquire, std::memory_order_relaxed))
        return;
    }
  }
  // Park. Marking the word contended makes the holder's unlock wake us; we
  // keep it contended on acquiring because other waiters may still be parked.
  while (state_.exchange(contended, std::memory_order_acquire) != unlocked) {
#if defined(__linux__)
    syscall(SYS_futex, reinterpret_cast<uint32_t*>(&state_), FUTEX_WAIT_PRIVATE, contended, nullptr, nullptr, 0);
#else
    state_.wait(contended, std::memory_order_relaxed);
#endif
  }
}

void UnfairLock::wakeOne() noexcept {
#if defined(__linux__)
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&state_), FUTEX_WAKE_PRIVATE, 1, nullptr, nullptr, 0);
#else
  state_.notify_one();
#endif
}

}  // namespace oskel
