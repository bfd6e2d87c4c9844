#include "dsp/UnfairLock.h"

#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/RealtimeGuard.h"

namespace oskel {
namespace {

// Four threads hammer one counter; with more threads than cores the slow path
// (parking on the kernel) is taken too. A lost update means a broken lock.
TEST(UnfairLock, ExcludesUnderContention) {
  UnfairLock lock;
  int64_t counter = 0;
  constexpr int perThread = 200000;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < perThread; ++i) {
        std::lock_guard guard(lock);
        ++counter;
      }
    });
  for (auto& t : threads) t.join();
  EXPECT_EQ(counter, 4 * perThread);
}

TEST(UnfairLock, TryLockFailsWhileHeldAndNothingTouchesTheHeap) {
  UnfairLock lock;
  EXPECT_REALTIME_SAFE({
    lock.lock();
    EXPECT_FALSE(lock.try_lock());
    lock.unlock();
    EXPECT_TRUE(lock.try_lock());
    lock.unlock();
  });
}

}  // namespace
}  // namespace oskel
