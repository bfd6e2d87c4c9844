#include "dsp/Resampler.h"

#include <cmath>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

#include "dsp/PCM16.h"
#include "support/LogCapture.h"

namespace oskel {
namespace {

std::vector<float> tone(double hz, double rate, size_t n, size_t offset = 0) {
  std::vector<float> x(n);
  for (size_t i = 0; i < n; ++i) x[i] = static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * hz * double(i + offset) / rate));
  return x;
}

// Streams `seconds` of a tone through `r` in 20 ms blocks.
std::vector<float> streamTone(Resampler& r, double hz, double seconds) {
  const auto block = static_cast<size_t>(r.inputRate() * 0.02);
  std::vector<float> out;
  for (size_t at = 0; at < static_cast<size_t>(r.inputRate() * seconds); at += block) {
    const auto y = r.process(tone(hz, r.inputRate(), block, at));
    out.insert(out.end(), y.begin(), y.end());
  }
  return out;
}

TEST(Resampler, EqualRatesAndEmptyBlocksPassThroughAndOtherwiseTheDelayIsUnderTwoMilliseconds) {
  Resampler same(24000, 24000);
  std::vector<float> x = tone(1000, 24000, 480);
  const float* storage = x.data();
  const auto copy = x;
  const auto y = same.process(std::move(x));
  EXPECT_EQ(y.data(), storage);  // handed back, not copied
  EXPECT_EQ(y, copy);
  EXPECT_EQ(same.process(std::span<const float>(copy)), copy);
  EXPECT_EQ(same.delay(), 0);

  Resampler down(48000, 24000);
  EXPECT_TRUE(down.process(std::vector<float>{}).empty());

  // The delay stays under two milliseconds.
  Resampler up(24000, 48000);
  EXPECT_GT(down.delay(), 0);
  EXPECT_LE(double(down.delay()) / 24000.0, 0.002);
  EXPECT_LE(double(up.delay()) / 48000.0, 0.002);
}

TEST(Resampler, BlocksJoinWithoutASeamAndTotalsFollowTheRatio) {
  for (const auto& [from, to] : {std::pair{48000.0, 24000.0}, {24000.0, 48000.0}, {44100.0, 24000.0}, {24000.0, 44100.0}}) {
    Resampler blocks(from, to);
    const auto streamed = streamTone(blocks, 700, 1.0);
    Resampler whole(from, to);
    const auto reference = whole.process(tone(700, from, static_cast<size_t>(from)));
    ASSERT_NEAR(double(streamed.size()), to, 2.0) << from << "->" << to;
    const size_t n = std::min(streamed.size(), reference.size());
    for (size_t i = 0; i < n; ++i) ASSERT_NEAR(streamed[i], reference[i], 1e-5) << from << "->" << to << " at " << i;
  }
  // Fractional rates stream too.
  Resampler drifting(44100.0, 44100.5);
  EXPECT_NEAR(double(streamTone(drifting, 440, 1.0).size()), 44100.5, 2.0);
}

TEST(Resampler, KeepsTheBandAndRejectsAliases) {
  // A 1 kHz tone keeps its level; an 18 kHz tone, which would fold to 6 kHz
  // at 24 kHz, is rejected by at least 90 dB.
  for (double from : {48000.0, 44100.0}) {
    const auto settle = static_cast<long>(480);
    Resampler pass(from, 24000);
    const auto kept = streamTone(pass, 1000, 0.5);
    EXPECT_NEAR(PCM16::dBFS(std::span<const float>(kept.begin() + settle, kept.end())),
                PCM16::dBFS(tone(1000, from, 24000)), 0.05)
        << from;

    Resampler stop(from, 24000);
    const auto folded = streamTone(stop, 18000, 0.5);
    EXPECT_LT(PCM16::dBFS(std::span<const float>(folded.begin() + settle, folded.end())) -
                  PCM16::dBFS(tone(18000, from, 24000)),
              -90.0f)
        << from;
  }
}

TEST(Resampler, AFailureLogsAndYieldsEmptyBlocks) {
  test::LogCapture log;
  Resampler broken(48000, 0);
  EXPECT_TRUE(broken.process(tone(1000, 48000, 960)).empty());
  EXPECT_TRUE(broken.process(tone(1000, 48000, 960)).empty());
  ASSERT_EQ(log.count("WARN  resampler 48000.0->0.0 failed: "), 2u) << ::testing::PrintToString(log.lines());
}

}  // namespace
}  // namespace oskel
