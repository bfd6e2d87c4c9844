#pragma once

#include <chrono>
#include <functional>

namespace oskel::app {

// The go-ahead of a pending termination: whichever comes first of the stop's
// completion and the fallback ends the process; a later reply does nothing.
// Time comes from `schedule`, so the bound is tested without waiting.
class QuitGate {
 public:
  using Schedule = std::function<void(std::chrono::milliseconds delay, std::function<void()> task)>;
  // Stops what runs and calls its argument once stopped (perhaps never).
  using Stop = std::function<void(std::function<void()> stopped)>;

  QuitGate(std::chrono::milliseconds bound, Schedule schedule, std::function<void()> terminate);

  // Without a stop the process ends at once. A second request while one is
  // pending is ignored.
  void request(Stop stop);
  bool pending() const { return pending_; }
  bool done() const { return done_; }
  // The stop did not complete within the bound.
  bool timedOut() const { return timedOut_; }

 private:
  void goAhead(bool timedOut);

  std::chrono::milliseconds bound_;
  Schedule schedule_;
  std::function<void()> terminate_;
  bool pending_ = false;
  bool done_ = false;
  bool timedOut_ = false;
};

}  // namespace oskel::app
