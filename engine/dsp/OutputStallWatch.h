#pragma once

#include <optional>

#include "dsp/WallTime.h"

namespace oskel {

// Notices a translation connection that accepts speech but has silently
// stopped translating: someone has talked for more than `timeout` (gaps up to
// `pause` allowed) and no translated output came back for more than `timeout`,
// reported at most once per `rotationInterval`; with `requireTranscript`, only
// while the service transcribed the speech within `timeout`. A value type; its
// owner guards it.
class OutputStallWatch {
 public:
  struct Stall {
    double talking;     // seconds of continuous talking
    double quiet;       // seconds without translated output
    bool transcribing;  // an input transcript arrived within the timeout
  };

  OutputStallWatch(float thresholdDB, double timeout, double rotationInterval, double pause, bool requireTranscript)
      : thresholdDB_(thresholdDB),
        timeout_(timeout),
        rotationInterval_(rotationInterval),
        pause_(pause),
        requireTranscript_(requireTranscript) {}

  // Feeds one captured block's level; a level strictly above the threshold is speech.
  std::optional<Stall> update(float levelDB, WallTime now);

  // Records translated output (audio or transcript); returns the length of
  // the stall it ends, if one was reported.
  std::optional<double> translated(WallTime now);

  // Records an input transcript from the service.
  void heard(WallTime now) { lastHeardAt_ = now; }

  std::optional<WallTime> stalledSince() const { return stalledSince_; }
  std::optional<WallTime> speechSince() const { return speechSince_; }

 private:
  float thresholdDB_;
  double timeout_;
  double rotationInterval_;
  double pause_;
  bool requireTranscript_;
  std::optional<WallTime> stalledSince_;
  std::optional<WallTime> speechSince_;
  WallTime lastLoudAt_ = distantPast;
  WallTime lastTranslatedAt_ = distantPast;
  WallTime lastHeardAt_ = distantPast;
  WallTime reportedAt_ = distantPast;
};

}  // namespace oskel
