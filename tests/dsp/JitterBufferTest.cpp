#include "dsp/JitterBuffer.h"

#include <vector>

#include <gtest/gtest.h>


namespace oskel {
namespace {

std::vector<float> filled(int n, float value) { return std::vector<float>(static_cast<size_t>(n), value); }

TEST(JitterBuffer, ParametersAreClampedAndClearStopsPlayout) {
  JitterBuffer negative(100, -5, 10);
  EXPECT_EQ(negative.prefill(), 0);
  EXPECT_EQ(negative.maxDepth(), 10);
  JitterBuffer tooShallow(100, 40, 40);
  EXPECT_EQ(tooShallow.maxDepth(), 41);
  JitterBuffer below(100, 40, 3);
  EXPECT_EQ(below.maxDepth(), 41);

  JitterBuffer jitter(1000, 10, 100);
  jitter.write(filled(50, 1.0f));
  std::vector<float> out(5);
  EXPECT_EQ(jitter.read(out), 5);
  jitter.clear();
  EXPECT_FALSE(jitter.started());
  jitter.write(filled(9, 1.0f));
  EXPECT_EQ(jitter.read(out), 0);
}

TEST(JitterBuffer, TrimsBackToPrefillWhenTooDeep) {
  JitterBuffer jitter(48000, 480, 4800);
  std::vector<float> samples(6000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(i);
  jitter.write(samples);
  std::vector<float> out(100);
  EXPECT_EQ(jitter.read(out), 100);
  EXPECT_EQ(jitter.droppedFrames(), 5520);
  EXPECT_EQ(out[0], 5520.0f);  // the newest 480 remained
  EXPECT_EQ(jitter.available(), 380);
}

}  // namespace
}  // namespace oskel
