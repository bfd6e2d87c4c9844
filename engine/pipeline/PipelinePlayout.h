#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "dsp/Ducker.h"
#include "dsp/FloatRingBuffer.h"
#include "dsp/JitterBuffer.h"
#include "pipeline/OutputTap.h"

namespace oskel {

// The output side of a translation pipeline: the playout buffers the other
// threads fill, the passthrough flag, the voice-over ducker, the output tap,
// and the render callback that plays them. The output endpoint's callback
// shares ownership of it, so the callback can never outlive what it reads.
class PipelinePlayout {
 public:
  static constexpr int64_t mixScratchFrames = 16384;

  // Buffers sized from the output rate; a ducker only with a voice-over gain.
  PipelinePlayout(double outputRate, std::optional<double> voiceOverGainDB, std::optional<double> voiceOverDuckDB);
  PipelinePlayout(const PipelinePlayout&) = delete;
  PipelinePlayout& operator=(const PipelinePlayout&) = delete;

  // Render thread: fills `out` completely, then shows it to the tap.
  void render(std::span<float> out);

  // Any thread: the jitter buffers are emptied (and wait for their prefill
  // again) at the start of the next render, since their playout state
  // belongs to the render thread.
  void requestClear(bool translation, bool voiceOver);

  bool hasVoiceOver() const { return ducker_.has_value(); }
  void setVoiceOverLevels(double idleDB, std::optional<double> duckDB);
  // The ducker's gain after the last render; absent without voice-over.
  std::optional<float> voiceOverGain() const;

  double outputRate() const { return outputRate_; }

 private:
  const double outputRate_;

 public:
  JitterBuffer translation;  // translated speech at the output rate
  JitterBuffer voiceOver;    // the speaker's own voice at the output rate
  FloatRingBuffer passthroughRing;  // captured audio at the output rate, in passthrough
  PassthroughFlag passthrough;
  OutputTap tap;

 private:
  std::optional<Ducker> ducker_;
  const std::unique_ptr<float[]> scratch_;
  std::atomic<bool> clearTranslation_{false};
  std::atomic<bool> clearVoiceOver_{false};
  std::atomic<float> publishedGain_{0.0f};
};

}  // namespace oskel
