#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "HostSimulator.h"

namespace oskel::driver_test {

// A freshly loaded and initialised driver with an empty log.
class DriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(host.initialize(), 0);
    host.clearLog();
  }

  HostSimulator host;
};

// Interleaved stereo frames whose left and right samples differ, so a swap shows.
inline std::vector<float> rampFrames(size_t frames, float start) {
  std::vector<float> samples(frames * 2);
  for (size_t i = 0; i < frames; ++i) {
    samples[2 * i] = start + static_cast<float>(i);
    samples[2 * i + 1] = -(start + static_cast<float>(i));
  }
  return samples;
}

inline bool allZero(const std::vector<float>& samples) {
  for (float sample : samples)
    if (sample != 0.0f) return false;
  return true;
}

}  // namespace oskel::driver_test
