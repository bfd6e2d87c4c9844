#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "concurrency/Clock.h"

namespace oskel {

// A clock that only moves when told to. Queues built on it run their delayed
// work when a test advances time; advancing steps through every deadline in
// order and waits until the queues have finished what became due, so timer
// behaviour is deterministic and no test sleeps.
//
// advance() and settle() must not be called from a queue's own thread.
class ManualClock final : public Clock {
 public:
  // Starts at an arbitrary fixed monotonic point and the given wall time.
  explicit ManualClock(WallTime wallStart = defaultWallStart());

  TimePoint now() const override;
  WallTime wallNow() const override;
  void waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline) const override;
  void attach(std::weak_ptr<TimedExecutor> executor) override;

  // Moves time forward by `by`, stopping at each scheduled deadline on the way
  // so that every task runs with the clock showing its own due time.
  void advance(Duration by);
  void advanceSeconds(double seconds);
  // Runs everything that is due now (work posted from other threads
  // included) and returns when all attached queues are idle.
  void settle();

  // 2025-01-01T00:00:00Z.
  static WallTime defaultWallStart();

 private:
  std::vector<std::shared_ptr<TimedExecutor>> executors();
  void setNow(TimePoint to);

  const TimePoint steadyStart_;
  const WallTime wallStart_;
  std::atomic<Duration::rep> elapsed_{0};
  mutable std::mutex mutex_;
  std::vector<std::weak_ptr<TimedExecutor>> executors_;
  std::mutex advancing_;  // one advance at a time
};

}  // namespace oskel
