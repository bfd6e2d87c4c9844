#pragma once

#include <cstdint>

namespace oskel {

// Allocation-free linear interpolator for real-time callbacks (device rate
// bridging, the recorder). Streams: `position` and the previous block's last
// sample carry across calls, so blocks join without a seam. Input sample x[i]
// sits at position i + 1 and the previous block's last sample at 0, which
// delays the stream by one input sample but lets every block interpolate
// across its start without look-ahead. Mono float.
class LinearResampler {
 public:
  LinearResampler(double inputRate, double outputRate);

  // Resamples `count` input samples into at most `capacity` output samples and
  // returns how many were written. Give at least maxOutput(count) of space.
  int64_t process(const float* input, int64_t count, float* output, int64_t capacity);

  // Output space needed for n input samples.
  int64_t maxOutput(int64_t n) const { return static_cast<int64_t>(static_cast<double>(n) / ratio_) + 2; }

  bool isIdentity() const { return ratio_ == 1.0; }

  // Forgets the carried state; call when the stream restarts.
  void reset() {
    position_ = 0.0;
    previous_ = 0.0f;
  }

  double inputRate() const { return inputRate_; }
  double outputRate() const { return outputRate_; }
  double position() const { return position_; }
  float previous() const { return previous_; }

 private:
  double inputRate_;
  double outputRate_;
  double ratio_;  // input samples advanced per output sample
  double position_ = 0.0;
  float previous_ = 0.0f;
};

}  // namespace oskel
