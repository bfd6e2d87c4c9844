#include "dsp/Ducker.h"

#include <algorithm>
#include <cmath>

#include "dsp/RealtimeSection.h"

namespace oskel {

namespace {

float gainFor(float dB) { return static_cast<float>(std::pow(10.0, static_cast<double>(dB) / 20.0)); }

float smoothingFor(double seconds, double sampleRate) {
  return static_cast<float>(1.0 - std::exp(-1.0 / (seconds * sampleRate)));
}

}  // namespace

Ducker::Ducker(float idleDB, std::optional<float> duckDB, double sampleRate, double attackSeconds,
               double holdSeconds, double releaseSeconds)
    : idleGain_(gainFor(idleDB)),
      duckGain_(duckDB ? gainFor(*duckDB) : gainFor(idleDB)),
      attackCoefficient_(smoothingFor(attackSeconds, sampleRate)),
      releaseCoefficient_(smoothingFor(releaseSeconds, sampleRate)),
      holdFrames_(static_cast<int64_t>(holdSeconds * sampleRate)),
      gain_(gainFor(idleDB)) {}

void Ducker::setLevels(float idleDB, std::optional<float> duckDB) {
  const float idle = gainFor(idleDB);
  idleGain_.store(idle, std::memory_order_relaxed);
  duckGain_.store(duckDB ? gainFor(*duckDB) : idle, std::memory_order_relaxed);
}

void Ducker::mix(const float* original, float* into, int64_t count, bool translationActive) {
  realtime::Section section;
  if (translationActive) holdRemaining_ = holdFrames_;
  const float idle = idleGain_.load(std::memory_order_relaxed);
  const float duck = duckGain_.load(std::memory_order_relaxed);
  float gain = gain_;
  for (int64_t i = 0; i < count; ++i) {
    float target = idle;
    if (holdRemaining_ > 0) {
      target = duck;
      --holdRemaining_;
    }
    gain += (target - gain) * (gain > target ? attackCoefficient_ : releaseCoefficient_);
    into[i] = std::clamp(into[i] + gain * original[i], -1.0f, 1.0f);
  }
  gain_ = gain;
}

}  // namespace oskel
