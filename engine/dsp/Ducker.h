#pragma once

#include <atomic>
#include <cstdint>
#include <optional>

namespace oskel {

// Mixes the speaker's own voice ("voice-over") under translated speech at a
// fixed level, and lowers it further while translation plays: a fast dip
// (attack), a hold after the last translated audio, and a slow recovery
// (release). mix() runs on the render thread and never allocates; setLevels()
// may be called from another thread at any time.
class Ducker {
 public:
  // No `duckDB` means no ducking: the voice-over stays at the idle level.
  Ducker(float idleDB, std::optional<float> duckDB, double sampleRate, double attackSeconds, double holdSeconds,
         double releaseSeconds);

  // New levels; the smoothed gain glides to them by itself.
  void setLevels(float idleDB, std::optional<float> duckDB);

  // into[i] = clamp(into[i] + gain * original[i], -1, 1) for `count` samples.
  // `into` already holds the translated speech; `translationActive` re-arms
  // the hold.
  void mix(const float* original, float* into, int64_t count, bool translationActive);

  float idleGain() const { return idleGain_.load(std::memory_order_relaxed); }
  float duckGain() const { return duckGain_.load(std::memory_order_relaxed); }
  float currentGain() const { return gain_; }
  float attackCoefficient() const { return attackCoefficient_; }
  float releaseCoefficient() const { return releaseCoefficient_; }
  int64_t holdFrames() const { return holdFrames_; }

 private:
  std::atomic<float> idleGain_;
  std::atomic<float> duckGain_;
  float attackCoefficient_;
  float releaseCoefficient_;
  int64_t holdFrames_;
  float gain_;
  int64_t holdRemaining_ = 0;
};

}  // namespace oskel
