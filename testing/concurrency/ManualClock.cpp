#include "concurrency/ManualClock.h"

#include <algorithm>

namespace oskel {

ManualClock::ManualClock(WallTime wallStart)
    : steadyStart_(TimePoint(std::chrono::hours(24 * 365))), wallStart_(wallStart) {}

ManualClock::WallTime ManualClock::defaultWallStart() {
  return WallTime(std::chrono::seconds(1735689600));
}

ManualClock::TimePoint ManualClock::now() const {
  return steadyStart_ + Duration(elapsed_.load(std::memory_order_acquire));
}

ManualClock::WallTime ManualClock::wallNow() const {
  return wallStart_ +
         std::chrono::duration_cast<WallTime::duration>(Duration(elapsed_.load(std::memory_order_acquire)));
}

void ManualClock::waitUntil(std::condition_variable& wake, std::unique_lock<std::mutex>& lock, TimePoint) const {
  // Time only moves in advance(), which wakes every attached executor.
  wake.wait(lock);
}

void ManualClock::attach(std::weak_ptr<TimedExecutor> executor) {
  std::lock_guard guard(mutex_);
  std::erase_if(executors_, [](const auto& weak) { return weak.expired(); });
  executors_.push_back(std::move(executor));
}

std::vector<std::shared_ptr<TimedExecutor>> ManualClock::executors() {
  std::vector<std::shared_ptr<TimedExecutor>> alive;
  std::lock_guard guard(mutex_);
  for (const auto& weak : executors_)
    if (auto executor = weak.lock()) alive.push_back(std::move(executor));
  return alive;
}

void ManualClock::setNow(TimePoint to) {
  elapsed_.store((to - steadyStart_).count(), std::memory_order_release);
  for (const auto& executor : executors()) executor->timeChanged();
}

void ManualClock::settle() {
  // Work on one queue may post to another, so repeat until a whole pass finds
  // nothing due anywhere.
  for (;;) {
    const auto all = executors();
    for (const auto& executor : all) executor->waitUntilIdle();
    const auto current = now();
    const bool more = std::any_of(all.begin(), all.end(), [&](const auto& executor) {
      const auto deadline = executor->nextDeadline();
      return deadline && *deadline <= current;
    });
    if (!more) return;
  }
}

void ManualClock::advance(Duration by) {
  std::lock_guard serial(advancing_);
  const TimePoint target = now() + std::max(by, Duration::zero());
  for (;;) {
    settle();
    std::optional<TimePoint> next;
    for (const auto& executor : executors()) {
      const auto deadline = executor->nextDeadline();
      if (deadline && (!next || *deadline < *next)) next = deadline;
    }
    if (!next || *next > target) break;
    setNow(std::max(now(), *next));
  }
  setNow(target);
  settle();
}

void ManualClock::advanceSeconds(double seconds) { advance(delayFromSeconds(seconds)); }

}  // namespace oskel
