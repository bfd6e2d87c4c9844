#include "dsp/JitterBuffer.h"

#include <algorithm>

#include "dsp/RealtimeSection.h"

namespace oskel {

JitterBuffer::JitterBuffer(int64_t capacity, int64_t prefill, int64_t maxDepth)
    : ring_(capacity), prefill_(std::max<int64_t>(prefill, 0)), maxDepth_(std::max(prefill_ + 1, maxDepth)) {}

int64_t JitterBuffer::read(float* destination, int64_t frames) {
  realtime::Section section;
  const int64_t depth = ring_.available();
  if (!started_) {
    if (depth < prefill_) {
      if (destination != nullptr && frames > 0) std::fill(destination, destination + frames, 0.0f);
      return 0;
    }
    started_ = true;
  }
  if (depth > maxDepth_) ring_.skip(depth - prefill_);
  const int64_t got = ring_.read(destination, frames);
  if (frames > 0 && got < frames) started_ = false;
  return got;
}

void JitterBuffer::clear() {
  ring_.clear();
  started_ = false;
}

}  // namespace oskel
