#include "concurrency/Clock.h"

#include <cmath>

namespace oskel {

namespace {

class SystemClock final : public Clock {
 public:
  TimePoint now() const override { return std::chrono::steady_clock::now(); }
  WallTime wallNow() const override { return std::chrono::system_clock::now(); }

  void waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                 TimePoint deadline) const override {
    wake.wait_until(lock, deadline);
  }

  // Real time moves by itself; nobody needs to be driven.
  void attach(std::weak_ptr<TimedExecutor>) override {}
};

}  // namespace

std::shared_ptr<Clock> Clock::system() {
  static const auto clock = std::make_shared<SystemClock>();
  return clock;
}

Clock::Duration delayFromSeconds(double seconds) {
  constexpr double limit = 100.0 * 365.0 * 24.0 * 3600.0;
  if (std::isnan(seconds) || seconds <= 0.0) return Clock::Duration::zero();
  if (seconds > limit) seconds = limit;
  return std::chrono::duration_cast<Clock::Duration>(std::chrono::duration<double>(seconds));
}

double secondsBetween(Clock::TimePoint from, Clock::TimePoint to) {
  return std::chrono::duration<double>(to - from).count();
}

}  // namespace oskel
