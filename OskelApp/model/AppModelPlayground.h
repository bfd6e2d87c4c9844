#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "AppModel.h"

namespace oskel {

// The model's bookkeeping of the onboarding try-out: the running
// playground, its run (for telemetry) and the onboarding window's visit.
struct AppModel::Playground {
  std::shared_ptr<Orchestrator> orchestrator;
  std::uint64_t generation = 0;
  // The run: from a start to its stop; telemetry is sent once per run.
  std::optional<Clock::TimePoint> began;
  bool reachedLive = false;
  bool runSpoke = false;
  bool runIsRetry = false;
  std::optional<std::string> failureReason;
  std::string endedBy = "user";
  int captionLines = 0;
  // The window's visit.
  std::optional<Clock::TimePoint> onboardingOpenedAt;
  bool everLive = false;
  bool wanted = false;
  Timer restartWork;
  Timer retryWork;
};

// Seconds rounded to one decimal, halves away from zero.
double roundedToTenth(double seconds);

}  // namespace oskel
