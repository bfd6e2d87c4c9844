#include "QuitGate.h"

namespace oskel::app {

QuitGate::QuitGate(std::chrono::milliseconds bound, Schedule schedule, std::function<void()> terminate)
    : bound_(bound), schedule_(std::move(schedule)), terminate_(std::move(terminate)) {}

void QuitGate::request(Stop stop) {
  if (pending_ || done_) return;
  if (!stop) return goAhead(false);
  pending_ = true;
  // The gate outlives the event loop that runs these (the delegate owns it).
  schedule_(bound_, [this] { goAhead(true); });
  stop([this] { goAhead(false); });
}

void QuitGate::goAhead(bool timedOut) {
  if (done_) return;
  done_ = true;
  timedOut_ = timedOut;
  pending_ = false;
  if (terminate_) terminate_();
}

}  // namespace oskel::app
