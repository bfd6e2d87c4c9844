#include "dsp/SilenceGate.h"

#include <cmath>

#include <gtest/gtest.h>

namespace oskel {
namespace {

using T = SilenceGate::Transition;

TEST(SilenceGate, ClosesAfterTheHoldMeasuredFromTheFirstBlockAndOpensOnlyAboveTheThreshold) {
  SilenceGate gate(-50, 30);
  for (double t = 0; t < 30; t += 0.02) ASSERT_EQ(gate.update(-60, wallTimeAt(t)), T::none) << t;
  EXPECT_EQ(gate.update(-60, wallTimeAt(30.0)), T::closed);
  EXPECT_TRUE(gate.isClosed());
  EXPECT_EQ(gate.update(-60, wallTimeAt(31.0)), T::none);  // reported once
  EXPECT_EQ(gate.closures(), 1);

  EXPECT_EQ(gate.update(-50.0f, wallTimeAt(31)), T::none);
  EXPECT_EQ(gate.update(NAN, wallTimeAt(32)), T::none);
  EXPECT_EQ(gate.update(-49.9f, wallTimeAt(33)), T::opened);
  EXPECT_FALSE(gate.isClosed());
  EXPECT_EQ(gate.update(-40, wallTimeAt(34)), T::none);
}

TEST(SilenceGate, HoldRestartsAtEveryLoudBlock) {
  SilenceGate gate(-50, 30);
  gate.update(-20, wallTimeAt(10));
  EXPECT_EQ(gate.update(-60, wallTimeAt(20)), T::none);
  EXPECT_EQ(gate.update(-60, wallTimeAt(39.99)), T::none);
  EXPECT_EQ(gate.update(-60, wallTimeAt(40)), T::closed);
}

TEST(SilenceGate, StatisticsAndSummaryCountEveryClosure) {
  SilenceGate gate(-50, 30);
  EXPECT_EQ(gate.summary(wallTimeAt(5)), "");
  gate.update(-60, wallTimeAt(0));
  gate.update(-60, wallTimeAt(30));
  EXPECT_EQ(gate.summary(wallTimeAt(32)), "silence gate held back 2.0s of audio (1 closure)");
  gate.update(-10, wallTimeAt(45));
  EXPECT_EQ(gate.update(-60, wallTimeAt(70)), T::none);     // 25 s after the loud block
  EXPECT_EQ(gate.update(-60, wallTimeAt(100)), T::closed);  // second closure from 100
  EXPECT_EQ(gate.closures(), 2);
  EXPECT_DOUBLE_EQ(gate.closedSeconds(wallTimeAt(110)), 15.0 + 10.0);
  EXPECT_EQ(gate.summary(wallTimeAt(110)), "silence gate held back 25.0s of audio (2 closures)");
}

}  // namespace
}  // namespace oskel
