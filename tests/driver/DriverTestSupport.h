#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "HostSimulator.h"
#include "audio/FourCC.h"

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
  return std::ranges::all_of(samples, [](float sample) { return sample == 0.0f; });
}

// The changes the driver announced, as "object:selector/scope/element" in order.
inline std::string announcements(const HostSimulator& host) {
  std::string text;
  for (const auto& change : host.propertyChanges)
    for (const auto& address : change.addresses)
      text += (text.empty() ? "" : " ") + std::to_string(change.object) + ":" + fourCCText(address.mSelector) + "/" +
              fourCCText(address.mScope) + "/" + std::to_string(address.mElement);
  return text;
}

}  // namespace oskel::driver_test
