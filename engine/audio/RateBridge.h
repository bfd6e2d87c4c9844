#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "audio/AudioEndpoint.h"
#include "dsp/LinearResampler.h"

namespace oskel {

// Keeps an endpoint's promised rate while its device runs at another: a
// linear resampler with the buffers it needs, all allocated up front, so
// that the IO thread never allocates. A capture bridge runs from the device's
// rate to the presented one; a playback bridge from the presented rate to the
// device's. Used by one IO thread at a time.
class RateBridge {
 public:
  static constexpr int64_t capacity = 65536;

  RateBridge(double from, double to);
  RateBridge(const RateBridge&) = delete;
  RateBridge& operator=(const RateBridge&) = delete;

  double fromRate() const { return resampler_.inputRate(); }
  double toRate() const { return resampler_.outputRate(); }
  int64_t pullChunk() const { return pullChunk_; }
  int64_t pendingCount() const { return pendingCount_; }

  // Capture: resamples device frames and hands the result on, in as many
  // runs as the buffer needs (a large upsampling ratio would overrun one).
  void convert(std::span<const float> input, const AudioInputEndpoint::FramesCallback& onFrames);

  // Playback: fills `count` samples at the device's rate, pulling 10 ms
  // chunks at the presented rate from `render` as needed. When the buffer
  // cannot take another chunk, the rest of the request is silence.
  void pull(float* out, int64_t count, const AudioOutputEndpoint::RenderCallback& render);

 private:
  LinearResampler resampler_;
  std::unique_ptr<float[]> buffer_;
  int64_t pullChunk_;
  std::unique_ptr<float[]> pullBuffer_;
  int64_t pendingCount_ = 0;
};

}  // namespace oskel
