// Rotation to a fresh server session before expiry, without a gap in the audio.
#include <gtest/gtest.h>

#include <algorithm>
#include <ranges>
#include <tuple>

#include "session/SessionHarness.h"

namespace oskel::test {
namespace {

using namespace TranslationEvents;

// The timing of each rotation is in FiresAfterTheWorkedDelayAndNeverWithoutAnExpiry below.
TEST(SessionRotation, TheOldConnectionCarriesTheAudioUntilTheNewOneIsReadyThenDrains) {
  SessionHarness h;
  auto first = h.startLive("sess_a", 1800.0);
  h.advance(1740.0);
  ASSERT_EQ(h.client->count(), 2u);

  auto second = h.client->last();
  h.created(*second, "sess_b");
  h.append(numberedBlock(1));
  h.updated(*second);
  EXPECT_TRUE(h.log.contains("INFO  [en→es] rotated to session sess_b; draining sess_a"));
  EXPECT_EQ(first->sentTypes().back(), "session.close");
  h.append(numberedBlock(2));
  ASSERT_EQ(first->appendedAudio().size(), 1u);
  EXPECT_EQ(blockNumber(first->appendedAudio()[0]), 1u);
  ASSERT_EQ(second->appendedAudio().size(), 1u);
  EXPECT_EQ(blockNumber(second->appendedAudio()[0]), 2u);

  // The retired connection's last translation still reaches the owner.
  h.clearEvents();
  h.receive(*first, R"({"type":"session.output_audio.delta","delta":"AQI="})");
  h.receive(*first, R"({"type":"session.output_transcript.delta","delta":"fin"})");
  h.closed(*first);
  EXPECT_TRUE(first->closed());
  EXPECT_TRUE(h.log.contains("INFO  [en→es] session sess_a closed"));
  h.receive(*first, R"({"type":"session.output_transcript.delta","delta":"late"})");
  EXPECT_EQ(h.events(), (std::vector<TranslationEvent>{OutputAudio{{1, 2}}, OutputTranscript{"fin"}}));
  EXPECT_FALSE(second->closed());
  EXPECT_EQ(h.client->count(), 2u);  // draining one closing is not a reason to reconnect
}

TEST(SessionRotation, FiresAfterTheWorkedDelayAndNeverWithoutAnExpiry) {
  const std::tuple<double, double, const char*> cases[] = {
      {1800.0, 1740.0, "1740"}, {65.0, 32.5, "32"}, {70.0, 10.0, "10"}, {8.0, 5.0, "5"}, {-30.0, 5.0, "5"}};
  for (const auto& [expiresIn, delay, logged] : cases) {
    SCOPED_TRACE(expiresIn);
    SessionHarness h;
    Log::setVerbose(true);
    h.startLive("sess_a", expiresIn);
    Log::setVerbose(false);
    EXPECT_TRUE(h.log.contains(std::string("rotation scheduled in ") + logged + "s"));
    h.advance(delay - 0.001);
    EXPECT_EQ(h.client->count(), 1u);
    h.advance(0.001);
    EXPECT_EQ(h.client->count(), 2u);
    EXPECT_TRUE(h.log.contains("connecting (session expires in 60s)"));
  }
  // No expiry, no rotation.
  SessionHarness h;
  h.startLive("sess_a", std::nullopt);
  h.advance(7200.0);
  EXPECT_EQ(h.client->count(), 1u);
}

TEST(SessionRotation, RotateOnlyWhenLiveAndNothingPending) {
  SessionHarness h;
  h.start();
  h.rotate("stall");  // connecting, not live
  EXPECT_EQ(h.client->count(), 1u);
  h.makeReady("sess_a");
  h.rotate("stall");
  EXPECT_EQ(h.client->count(), 2u);
  EXPECT_TRUE(h.log.contains("connecting (stall) -> es"));
  h.rotate("stall again");  // a replacement is already pending
  EXPECT_EQ(h.client->count(), 2u);

  h.fail(*h.client->at(0), "reset by peer");  // the live one dies: backing off
  h.rotate("stall");
  EXPECT_EQ(h.client->count(), 2u);
}

// Blocks appended across many rotations arrive exactly once, in order, on
// whichever connection was live at the time, and never after its close.
TEST(SessionRotation, NoBlockLostOrDuplicatedAcrossRotations) {
  SessionHarness h;
  h.startLive("sess_0", 1800.0);
  uint32_t next = 0;
  for (int rotation = 1; rotation <= 5; ++rotation) {
    for (int i = 0; i < 3; ++i) h.append(numberedBlock(next++));
    h.rotate("test");
    auto replacement = h.client->last();
    for (int i = 0; i < 3; ++i) h.append(numberedBlock(next++));
    h.created(*replacement, "sess_" + std::to_string(rotation));
    for (int i = 0; i < 3; ++i) h.append(numberedBlock(next++));
    h.updated(*replacement);
    for (int i = 0; i < 3; ++i) h.append(numberedBlock(next++));
    h.closed(*h.client->at(h.client->count() - 2));
  }
  std::vector<uint32_t> received;
  for (std::size_t i = 0; i < h.client->count(); ++i) {
    for (const auto& block : h.client->at(i)->appendedAudio()) received.push_back(blockNumber(block));
    const auto types = h.client->at(i)->sentTypes();
    const auto close = std::ranges::find(types, "session.close");
    EXPECT_EQ(std::find(close, types.end(), "session.input_audio_buffer.append"), types.end()) << i;
  }
  EXPECT_TRUE(std::ranges::equal(received, std::views::iota(0u, next))) << ::testing::PrintToString(received);
}

}  // namespace
}  // namespace oskel::test
