#include "dsp/OutputStallWatch.h"

#include <algorithm>

namespace oskel {

std::optional<OutputStallWatch::Stall> OutputStallWatch::update(float levelDB, WallTime now) {
  if (levelDB > thresholdDB_) {
    lastLoudAt_ = now;
    if (!speechSince_) speechSince_ = now;
  } else if (secondsBetween(lastLoudAt_, now) > pause_) {
    speechSince_.reset();  // the stretch of talking is over
    return std::nullopt;
  }
  if (!speechSince_) return std::nullopt;

  const double talking = secondsBetween(*speechSince_, now);
  const double quiet = secondsBetween(std::max(*speechSince_, lastTranslatedAt_), now);
  const double heardAgo = secondsBetween(lastHeardAt_, now);
  if (talking <= timeout_ || quiet <= timeout_ || (requireTranscript_ && heardAgo >= timeout_) ||
      secondsBetween(reportedAt_, now) <= rotationInterval_)
    return std::nullopt;

  reportedAt_ = now;
  if (!stalledSince_) stalledSince_ = lastTranslatedAt_ == distantPast ? *speechSince_ : lastTranslatedAt_;
  speechSince_ = now;  // the next report again needs a full timeout of talking
  return Stall{talking, quiet, heardAgo < timeout_};
}

std::optional<double> OutputStallWatch::translated(WallTime now) {
  lastTranslatedAt_ = now;
  if (!stalledSince_) return std::nullopt;
  const double stalled = secondsBetween(*stalledSince_, now);
  stalledSince_.reset();
  return stalled;
}

}  // namespace oskel
