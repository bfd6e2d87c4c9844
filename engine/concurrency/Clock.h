#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

namespace oskel {

// Anything that runs work at clock times (a serial queue). A clock that moves
// by itself never calls it; a manual clock drives it when a test moves time.
class TimedExecutor {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;

  virtual ~TimedExecutor() = default;
  // The clock moved: re-check what has become due.
  virtual void timeChanged() = 0;
  // Earliest time at which work is scheduled, if any.
  virtual std::optional<TimePoint> nextDeadline() = 0;
  // Returns once nothing is running and nothing is due at the clock's now.
  virtual void waitUntilIdle() = 0;
};

// Source of time for everything timer-driven. Monotonic time schedules work;
// wall time is only read to interpret absolute times from outside (expiries).
class Clock {
 public:
  using Duration = std::chrono::nanoseconds;
  using TimePoint = std::chrono::steady_clock::time_point;
  using WallTime = std::chrono::system_clock::time_point;

  virtual ~Clock() = default;

  virtual TimePoint now() const = 0;
  virtual WallTime wallNow() const = 0;

  // Blocks a scheduler thread, which holds `lock`, until `deadline` or until
  // `wake` is notified. Spurious returns are allowed; callers re-check.
  virtual void waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock,
                         TimePoint deadline) const = 0;

  // Registers a scheduler so a clock that is moved by hand can drive it.
  // Held weakly; an expired executor is forgotten.
  virtual void attach(std::weak_ptr<TimedExecutor> executor) = 0;

  // The process's real clock.
  static std::shared_ptr<Clock> system();
};

// A delay given in seconds as the clock's duration: negative or NaN is zero,
// and anything beyond a century is a century, so adding it to a time point
// cannot overflow.
Clock::Duration delayFromSeconds(double seconds);

// Seconds between two points as a double.
double secondsBetween(Clock::TimePoint from, Clock::TimePoint to);

}  // namespace oskel
