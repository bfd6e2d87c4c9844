#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "dsp/WallTime.h"

namespace oskel {

// Decides when captured speech has been quiet long enough that sending it to
// the translation service is pointless, and keeps the statistics for the
// pipeline's closing summary. A value type; one thread updates it.
class SilenceGate {
 public:
  enum class Transition { none, closed, opened };

  SilenceGate(float thresholdDB, double holdSeconds) : thresholdDB_(thresholdDB), holdSeconds_(holdSeconds) {}

  // Feeds one block's level. A block is loud when strictly above the
  // threshold (NaN is quiet). The hold is measured from the last loud block,
  // or from the first block seen, so a gate that never hears speech closes too.
  Transition update(float levelDB, WallTime now);

  // Closed time so far, including a closure still in progress.
  double closedSeconds(WallTime now) const;

  // "silence gate held back 25.0s of audio (2 closures)"; empty if it never closed.
  std::string summary(WallTime now) const;

  bool isClosed() const { return isClosed_; }
  int64_t closures() const { return closures_; }
  float thresholdDB() const { return thresholdDB_; }
  double holdSeconds() const { return holdSeconds_; }

 private:
  float thresholdDB_;
  double holdSeconds_;
  bool isClosed_ = false;
  int64_t closures_ = 0;
  double completedClosedSeconds_ = 0.0;
  std::optional<WallTime> lastLoudAt_;
  std::optional<WallTime> closedAt_;
};

}  // namespace oskel
