#include "dsp/LinearResampler.h"

#include <algorithm>
#include <cstring>

#include "dsp/RealtimeSection.h"

namespace oskel {

LinearResampler::LinearResampler(double inputRate, double outputRate)
    : inputRate_(inputRate), outputRate_(outputRate), ratio_(inputRate / outputRate) {}

int64_t LinearResampler::process(const float* input, int64_t count, float* output, int64_t capacity) {
  if (count < 1) return 0;
  realtime::Section section;
  if (ratio_ == 1.0) {
    const int64_t n = std::clamp<int64_t>(capacity, 0, count);
    std::memcpy(output, input, static_cast<size_t>(n) * sizeof(float));
    previous_ = input[count - 1];
    return n;
  }
  double p = position_;
  int64_t written = 0;
  const auto end = static_cast<double>(count);
  while (written < capacity && p < end) {
    const auto i = static_cast<int64_t>(p);
    // i < 1 covers the first sample of a block (and, defensively, a carry
    // driven negative by a caller that gave too little output space).
    const float a = i < 1 ? previous_ : input[i - 1];
    const float b = input[std::max<int64_t>(i, 0)];
    output[written++] = (b - a) * static_cast<float>(p - static_cast<double>(i)) + a;
    p += ratio_;
  }
  position_ = p - end;
  previous_ = input[count - 1];
  return written;
}

}  // namespace oskel
