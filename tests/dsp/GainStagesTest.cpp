#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "dsp/Ducker.h"
#include "dsp/InputNormalizer.h"
#include "dsp/PCM16.h"

namespace oskel {
namespace {

// A 20 ms block whose RMS is `level` dBFS (a square wave of that amplitude).
std::vector<float> blockAt(float dB) {
  std::vector<float> block(960);
  const float a = std::pow(10.0f, dB / 20.0f);
  for (size_t i = 0; i < block.size(); ++i) block[i] = (i % 2 == 0) ? a : -a;
  return block;
}

InputNormalizer pipelineNormalizer(InputNormalizer::Response response = InputNormalizer::Response::call) {
  return InputNormalizer(-20, 18, -55, 0.02, response);
}

TEST(InputNormalizer, FirstBlockSetsTheEnvelopeAndGainRisesByTheResponseStep) {
  auto call = pipelineNormalizer();
  call.process(blockAt(-40));
  EXPECT_NEAR(call.envelope(), 0.01f, 1e-6f);  // straight to the block's RMS
  // Wanted gain is capped at 18 dB (7.943); one call-block step is 3.92 % of the way.
  EXPECT_NEAR(call.currentGain(), 1.0f + (7.943f - 1.0f) * 0.0392f, 1e-3f);

  auto room = pipelineNormalizer(InputNormalizer::Response::room);
  room.process(blockAt(-40));
  EXPECT_NEAR(room.currentGain(), 1.0f + (7.943f - 1.0f) * 0.1813f, 1e-3f);
}

TEST(InputNormalizer, BoostsAtMost18dBFallsFastAndNeverAttenuates) {
  auto quiet = pipelineNormalizer(InputNormalizer::Response::room);
  std::vector<float> out;
  for (int i = 0; i < 200; ++i) out = quiet.process(blockAt(-50));  // 30 dB below target
  EXPECT_NEAR(quiet.currentGain(), 7.943f, 1e-3f);
  EXPECT_NEAR(PCM16::dBFS(out), -32.0f, 0.01f);

  // The gain falls fast when speech gets louder: the envelope moves 18.1 % towards
  // the loud block, the gain 33 % towards the new wanted gain.
  const float before = quiet.currentGain();
  quiet.process(blockAt(-10));
  const float envelope = 0.00316f + (0.316f - 0.00316f) * 0.181f;
  const float wanted = std::max(1.0f, 0.1f / envelope);
  EXPECT_NEAR(quiet.currentGain(), before + (wanted - before) * 0.330f, 2e-2f);

  auto loud = pipelineNormalizer();
  for (int i = 0; i < 200; ++i) out = loud.process(blockAt(-6));
  EXPECT_EQ(loud.currentGain(), 1.0f);
  EXPECT_EQ(out, blockAt(-6));
}

TEST(InputNormalizer, FreezesAtAndBelowTheNoiseFloorButKeepsApplyingTheGain) {
  auto n = pipelineNormalizer(InputNormalizer::Response::room);
  n.process(blockAt(-40));
  const float gain = n.currentGain();
  const float envelope = n.envelope();
  const auto silent = n.process(std::vector<float>(960, 0.0f));
  EXPECT_EQ(n.currentGain(), gain);
  EXPECT_EQ(n.envelope(), envelope);
  EXPECT_EQ(silent, std::vector<float>(960, 0.0f));

  // One sample whose level measures exactly the floor.
  float a = std::pow(10.0f, -55.0f / 20.0f);
  for (int step = 0; step < 64 && 20.0f * std::log10(PCM16::rms(std::vector<float>{a})) > -55.0f; ++step)
    a = std::nextafter(a, 0.0f);
  ASSERT_EQ(20.0f * std::log10(PCM16::rms(std::vector<float>{a})), -55.0f);
  const auto out = n.process(std::vector<float>{a});
  EXPECT_EQ(n.currentGain(), gain);
  EXPECT_EQ(out[0], a * gain);
  EXPECT_TRUE(n.process({}).empty());
}

TEST(InputNormalizer, GainWithinTheDeadBandLeavesTheBlockUntouchedAndBoostedPeaksAreClamped) {
  // Just below the target: wanted gain 1.0005, and one room step moves 18 % of that.
  InputNormalizer n(-20, 18, -55, 0.02, InputNormalizer::Response::room);
  const auto block = blockAt(-20.0043f);
  const auto out = n.process(block);
  EXPECT_GT(n.currentGain(), 1.0f);
  EXPECT_LT(n.currentGain(), 1.001f);
  EXPECT_EQ(out, block);

  // Boosted peaks are clamped.
  std::vector<float> click(960, 0.001f);
  click[0] = 0.9f;  // a click in quiet speech
  std::vector<float> boosted;
  for (int i = 0; i < 50; ++i) boosted = n.process(click);
  EXPECT_EQ(boosted[0], 1.0f);
}

TEST(Ducker, NewLevelsAreGlidedTo) {
  Ducker d(0, std::nullopt, 48000, 0.02, 0.25, 0.3);
  d.setLevels(-20, std::nullopt);
  EXPECT_NEAR(d.idleGain(), 0.1f, 1e-6f);
  EXPECT_GT(d.currentGain(), 0.99f);  // not jumped
  std::vector<float> silent(48000, 0.0f), scratch(48000, 0.0f);
  d.mix(silent.data(), scratch.data(), 48000, false);
  EXPECT_NEAR(d.currentGain(), 0.1f, 0.01f);
}

}  // namespace
}  // namespace oskel
