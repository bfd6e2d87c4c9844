#pragma once

#include <cmath>
#include <numbers>
#include <span>

namespace oskel::test {

// A sine generator that keeps its phase across render calls.
class Tone {
 public:
  Tone(double frequency, double rate, float amplitude) : step_(2.0 * std::numbers::pi * frequency / rate), amplitude_(amplitude) {}

  void render(std::span<float> frames) {
    for (float& sample : frames) {
      sample = amplitude_ * static_cast<float>(std::sin(phase_));
      phase_ += step_;
      if (phase_ > 2.0 * std::numbers::pi) phase_ -= 2.0 * std::numbers::pi;
    }
  }

 private:
  double phase_ = 0.0;
  double step_;
  float amplitude_;
};

inline double rms(std::span<const float> samples) {
  double sum = 0.0;
  for (float s : samples) sum += static_cast<double>(s) * static_cast<double>(s);
  return samples.empty() ? 0.0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

inline double decibels(double level) { return 20.0 * std::log10(std::max(level, 1e-9)); }

// Frequency from the rising zero crossings, interpolated between samples.
inline double frequency(std::span<const float> samples, double rate) {
  double first = -1.0;
  double last = -1.0;
  int crossings = 0;
  for (size_t i = 1; i < samples.size(); ++i) {
    if (samples[i - 1] < 0.0f && samples[i] >= 0.0f) {
      const double at = static_cast<double>(i - 1) + static_cast<double>(samples[i - 1] / (samples[i - 1] - samples[i]));
      if (first < 0) first = at;
      last = at;
      ++crossings;
    }
  }
  return crossings < 2 ? 0.0 : (crossings - 1) * rate / (last - first);
}

}  // namespace oskel::test
