#include "dsp/SilenceGate.h"

#include <fmt/format.h>

namespace oskel {

SilenceGate::Transition SilenceGate::update(float levelDB, WallTime now) {
  if (levelDB > thresholdDB_) {
    lastLoudAt_ = now;
    if (!isClosed_) return Transition::none;
    isClosed_ = false;
    if (closedAt_) completedClosedSeconds_ += secondsBetween(*closedAt_, now);
    closedAt_.reset();
    return Transition::opened;
  }
  if (!lastLoudAt_) lastLoudAt_ = now;
  if (!isClosed_ && secondsBetween(*lastLoudAt_, now) >= holdSeconds_) {
    isClosed_ = true;
    closedAt_ = now;
    ++closures_;
    return Transition::closed;
  }
  return Transition::none;
}

double SilenceGate::closedSeconds(WallTime now) const {
  return completedClosedSeconds_ + (isClosed_ && closedAt_ ? secondsBetween(*closedAt_, now) : 0.0);
}

std::string SilenceGate::summary(WallTime now) const {
  if (closures_ < 1) return {};
  return fmt::format("silence gate held back {:.1f}s of audio ({} closure{})", closedSeconds(now), closures_,
                     closures_ == 1 ? "" : "s");
}

}  // namespace oskel
