#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "pipeline/PipelinePlayout.h"
#include "support/RealtimeGuard.h"

namespace oskel::test {
namespace {

TEST(PipelinePlayout, BuffersAreSizedFromTheOutputRate) {
  PipelinePlayout playout(44100.0, -12.0, -24.0);
  EXPECT_EQ(playout.translation.prefill(), 5292);
  EXPECT_EQ(playout.translation.maxDepth(), 264600);
  EXPECT_EQ(playout.voiceOver.prefill(), 1764);
  EXPECT_EQ(playout.voiceOver.maxDepth(), 13230);
  EXPECT_EQ(playout.passthroughRing.capacity(), 176400);
  EXPECT_TRUE(playout.hasVoiceOver());
  EXPECT_FALSE(PipelinePlayout(48000.0, std::nullopt, -18.0).hasVoiceOver());
}

TEST(PipelinePlayout, ALongRequestMixesTheVoiceOverIntoTheFirstScratchfulOnly) {
  // At 96 kHz 20000 samples of voice-over stay below the 300 ms trim.
  PipelinePlayout playout(96000.0, 0.0, std::nullopt);
  playout.voiceOver.write(std::vector<float>(20000, 0.5f));
  std::vector<float> out(20000, 9.0f);
  EXPECT_REALTIME_SAFE(playout.render(out));
  EXPECT_FLOAT_EQ(out[0], 0.5f);
  EXPECT_FLOAT_EQ(out[16383], 0.5f);
  EXPECT_FLOAT_EQ(out[16384], 0.0f);
  EXPECT_FLOAT_EQ(out[19999], 0.0f);
}

// The sum is clamped and shown to the tap; a clear request takes effect on the
// next render; passthrough plays the captured ring and nothing else.
TEST(PipelinePlayout, MixesClearsAndPassesThroughOnTheRenderThread) {
  PipelinePlayout playout(48000.0, 0.0, std::nullopt);
  std::vector<float> seen;
  seen.reserve(480);
  playout.tap.set([&](std::span<const float> block) { seen.assign(block.begin(), block.end()); });
  playout.translation.write(std::vector<float>(6000, 0.75f));
  playout.voiceOver.write(std::vector<float>(2000, 0.5f));
  std::vector<float> out(480);
  EXPECT_REALTIME_SAFE(playout.render(out));
  EXPECT_FLOAT_EQ(out[0], 1.0f);
  EXPECT_EQ(seen, out);
  playout.requestClear(true, true);
  EXPECT_GT(playout.translation.available(), 0);  // the render thread's business
  playout.render(out);
  EXPECT_FLOAT_EQ(out[0], 0.0f);
  EXPECT_EQ(playout.translation.available(), 0);
  EXPECT_EQ(playout.voiceOver.available(), 0);
  // Waiting for the prefill again.
  playout.translation.write(std::vector<float>(5000, 0.25f));
  playout.render(out);
  EXPECT_FLOAT_EQ(out[0], 0.0f);

  playout.passthroughRing.write(std::vector<float>(100, 0.125f));
  playout.passthrough.set(true);
  std::ranges::fill(out, 9.0f);
  playout.render(out);
  EXPECT_FLOAT_EQ(out[99], 0.125f);
  EXPECT_FLOAT_EQ(out[100], 0.0f);
  EXPECT_EQ(playout.translation.available(), 5000);
}

TEST(OutputTap, AReplacedObserverIsNeverCalledAgainAndRemovalSilencesIt) {
  OutputTap tap;
  int first = 0;
  int second = 0;
  const std::vector<float> block(4, 0.0f);
  tap.set([&](std::span<const float>) { ++first; });
  tap.deliver(block);
  tap.set([&](std::span<const float>) { ++second; });
  tap.deliver(block);
  tap.set({});
  tap.deliver(block);
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 1);
}

}  // namespace
}  // namespace oskel::test
