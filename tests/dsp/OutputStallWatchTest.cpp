#include "dsp/OutputStallWatch.h"

#include <optional>

#include <gtest/gtest.h>

namespace oskel {
namespace {

OutputStallWatch pipelineWatch(bool requireTranscript = false) {
  return OutputStallWatch(-35, 8.0, 30.0, 1.5, requireTranscript);
}

// Feeds 20 ms blocks at `level` from `from` up to (not including) `to`;
// returns the first stall and when it came.
std::optional<std::pair<double, OutputStallWatch::Stall>> talk(OutputStallWatch& w, double from, double to,
                                                               float level = -20) {
  for (int k = 0; from + k * 0.02 < to - 1e-9; ++k) {
    const double t = from + k * 0.02;
    if (auto stall = w.update(level, wallTimeAt(t))) return std::pair{t, *stall};
  }
  return std::nullopt;
}

TEST(OutputStallWatch, ReportsOnceTalkingAndSilenceBothExceedTheTimeoutThenAtMostEveryThirtySeconds) {
  auto w = pipelineWatch();
  EXPECT_FALSE(talk(w, 0, 8.001));  // up to and including t = 8
  const auto first = talk(w, 8.02, 9);
  ASSERT_TRUE(first);
  EXPECT_NEAR(first->first, 8.02, 1e-9);
  EXPECT_NEAR(first->second.talking, 8.02, 1e-9);
  EXPECT_NEAR(first->second.quiet, 8.02, 1e-9);
  EXPECT_FALSE(first->second.transcribing);
  EXPECT_EQ(w.stalledSince(), wallTimeAt(0));  // the start of the speech
  EXPECT_EQ(w.speechSince(), wallTimeAt(8.02));
  const auto next = talk(w, 8.04, 60);
  ASSERT_TRUE(next);
  EXPECT_GT(next->first, 38.02);
  EXPECT_LT(next->first, 38.07);
}

TEST(OutputStallWatch, PausesUpToTheLimitKeepTheStretchAlive) {
  auto w = pipelineWatch();
  w.update(-20, wallTimeAt(0));
  EXPECT_FALSE(w.update(-50, wallTimeAt(1.5)));
  EXPECT_EQ(w.speechSince(), wallTimeAt(0));
  w.update(-20, wallTimeAt(2));
  EXPECT_FALSE(w.update(-35, wallTimeAt(3.51)));  // at the threshold is quiet; > 1.5 s after loud
  EXPECT_EQ(w.speechSince(), std::nullopt);
  // A fresh stretch starts from the next loud block.
  EXPECT_FALSE(talk(w, 4, 12.01));
  EXPECT_TRUE(talk(w, 12.02, 13));
}

TEST(OutputStallWatch, OutputMovesTheQuietStart) {
  auto w = pipelineWatch();
  EXPECT_FALSE(talk(w, 0, 5));
  EXPECT_EQ(w.translated(wallTimeAt(5)), std::nullopt);  // no stall in progress
  EXPECT_FALSE(talk(w, 5, 13.001));
  const auto stall = talk(w, 13.02, 14);
  ASSERT_TRUE(stall);
  EXPECT_NEAR(stall->second.talking, 13.02, 1e-9);
  EXPECT_NEAR(stall->second.quiet, 8.02, 1e-9);
  EXPECT_EQ(w.stalledSince(), wallTimeAt(5));  // the last output
  const auto resumed = w.translated(wallTimeAt(15));
  ASSERT_TRUE(resumed);
  EXPECT_DOUBLE_EQ(*resumed, 10.0);
  EXPECT_EQ(w.stalledSince(), std::nullopt);
}

TEST(OutputStallWatch, RequiredTranscriptMustBeRecent) {
  auto never = pipelineWatch(true);
  EXPECT_FALSE(talk(never, 0, 120));

  auto w = pipelineWatch(true);
  w.heard(wallTimeAt(3));
  EXPECT_FALSE(talk(w, 0, 8.001));
  const auto stall = talk(w, 8.02, 20);
  ASSERT_TRUE(stall);
  EXPECT_TRUE(stall->second.transcribing);
}

}  // namespace
}  // namespace oskel
