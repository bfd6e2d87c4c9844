#pragma once

#include <cstdint>
#include <span>

#include "dsp/FloatRingBuffer.h"

namespace oskel {

// Playout buffer for audio that arrives in bursts: silent until `prefill`
// samples are buffered, silent again after an underrun until the prefill is
// reached again, and trimmed back to `prefill` (dropping the oldest audio)
// when the depth grows past `maxDepth`, so latency cannot creep up.
//
// write() may run on any one producer thread; read() and clear() belong to the
// consumer (the render callback, or whoever owns playback while it is stopped).
class JitterBuffer {
 public:
  // prefill is clamped to at least 0, maxDepth to at least prefill + 1.
  JitterBuffer(int64_t capacity, int64_t prefill, int64_t maxDepth);

  void write(std::span<const float> samples) { ring_.write(samples); }

  // Fills `destination` (zero tail) and returns the number of real samples.
  int64_t read(float* destination, int64_t frames);
  int64_t read(std::span<float> destination) { return read(destination.data(), static_cast<int64_t>(destination.size())); }

  void clear();

  int64_t available() const { return ring_.available(); }
  int64_t droppedFrames() const { return ring_.droppedFrames(); }
  int64_t prefill() const { return prefill_; }
  int64_t maxDepth() const { return maxDepth_; }
  bool started() const { return started_; }

 private:
  FloatRingBuffer ring_;
  const int64_t prefill_;
  const int64_t maxDepth_;
  bool started_ = false;  // consumer side only
};

}  // namespace oskel
