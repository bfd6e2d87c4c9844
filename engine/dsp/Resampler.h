#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace oskel {

// High-quality streaming block resampler for worker threads (the pipeline's
// capture -> service, service -> playback and voice-over paths). Built on the
// speexdsp resampler at a quality chosen by measurement on 20 ms blocks:
// >= 90 dB alias rejection and >= 80 dB round-trip SNR at under 2 ms of filter
// delay and with nothing held back between blocks (see bench/dsp). Consecutive
// blocks continue one filter state, so they join without a seam. Mono float.
// Not for real-time threads: process() allocates its result.
class Resampler {
 public:
  // Speex quality level (0-10) used for every instance.
  static constexpr int quality = 5;

  Resampler(double inputRate, double outputRate);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Converts one block. Equal rates or an empty block return the input as it
  // is. A failure logs a warning and returns an empty block; the next call
  // carries on with the same state.
  std::vector<float> process(std::span<const float> input);
  std::vector<float> process(std::vector<float>&& input);

  // Filter delay in output samples (0 for equal rates).
  int64_t delay() const;

  double inputRate() const { return inputRate_; }
  double outputRate() const { return outputRate_; }

 private:
  std::vector<float> convert(std::span<const float> input);
  void warn(const std::string& reason) const;

  struct State;
  double inputRate_;
  double outputRate_;
  bool identity_;
  std::unique_ptr<State> state_;  // absent for equal rates or when creation failed
  std::string creationError_;
};

}  // namespace oskel
