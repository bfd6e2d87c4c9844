// The device clock: zero time stamps every 16384 frames of host time from the
// anchor set by the first StartIO, never going backwards.
#include <cmath>

#include "DriverTestSupport.h"

namespace oskel::driver_test {
namespace {

using ClockTest = DriverTest;

TEST_F(ClockTest, PeriodsOf16384FramesFromTheFirstStart) {
  host.advanceSeconds(5.0);  // time before the start does not count
  ASSERT_EQ(host.startIO(kSpeaker, 1), 0);
  const uint64_t anchor = host.hostTime();

  ZeroTimeStamp stamp = host.zeroTimeStamp(kSpeaker);
  EXPECT_EQ(stamp.status, 0);
  EXPECT_EQ(stamp.sampleTime, 0.0);
  EXPECT_EQ(stamp.hostTime, anchor);
  EXPECT_EQ(stamp.seed, 1u);

  host.advanceFrames(16383, 48000.0);
  EXPECT_EQ(host.zeroTimeStamp(kSpeaker).sampleTime, 0.0);
  host.advanceFrames(1, 48000.0);
  stamp = host.zeroTimeStamp(kSpeaker);
  EXPECT_EQ(stamp.sampleTime, 16384.0);
  EXPECT_EQ(stamp.hostTime, anchor + 341333333u) << "16384 frames of 20833.33 ns, truncated";

  host.advanceFrames(5 * 16384, 48000.0);
  stamp = host.zeroTimeStamp(kSpeaker);
  EXPECT_EQ(stamp.sampleTime, 6 * 16384.0);
  EXPECT_EQ(stamp.hostTime, anchor + 2048000000u);
  EXPECT_EQ(stamp.seed, 1u);
}

TEST_F(ClockTest, NeverGoesBackwards) {
  ASSERT_EQ(host.startIO(kMicrophone, 1), 0);
  const uint64_t anchor = host.hostTime();
  host.advanceFrames(3 * 16384, 48000.0);
  EXPECT_EQ(host.zeroTimeStamp(kMicrophone).sampleTime, 3 * 16384.0);

  host.setHostTime(anchor + 1000);
  EXPECT_EQ(host.zeroTimeStamp(kMicrophone).sampleTime, 3 * 16384.0);
  host.setHostTime(anchor - 1000);
  const ZeroTimeStamp stamp = host.zeroTimeStamp(kMicrophone);
  EXPECT_EQ(stamp.sampleTime, 3 * 16384.0);
  EXPECT_EQ(stamp.hostTime, anchor + 1024000000u);
}

// A long jump (a sleep with IO held open) is in ClockTimebase below.
TEST_F(ClockTest, JumpsUpTo32PeriodsAreOrdinary) {
  ASSERT_EQ(host.startIO(kSpeaker, 1), 0);
  host.advanceFrames(32 * 16384, 48000.0);
  EXPECT_EQ(host.zeroTimeStamp(kSpeaker).sampleTime, 32 * 16384.0);
  EXPECT_FALSE(host.logged("clock jumped"));
  host.advanceFrames(33 * 16384, 48000.0);
  EXPECT_EQ(host.zeroTimeStamp(kSpeaker).sampleTime, 65 * 16384.0);
  EXPECT_TRUE(host.logged("OskelAudio: Oskel Speaker: clock jumped forward 33 periods (sleep/wake with IO held open)"));
  // The clock simply continues from there.
  host.clearLog();
  host.advanceFrames(16384, 48000.0);
  EXPECT_EQ(host.zeroTimeStamp(kSpeaker).sampleTime, 66 * 16384.0);
  EXPECT_FALSE(host.logged("clock jumped"));
}

TEST_F(ClockTest, OnlyTheFirstClientReanchorsItsOwnDevice) {
  ASSERT_EQ(host.startIO(kMicrophone, 1), 0);
  ASSERT_EQ(host.startIO(kSpeaker, 1), 0);
  host.advanceFrames(2 * 16384, 48000.0);
  ASSERT_EQ(host.startIO(kSpeaker, 2), 0);
  EXPECT_EQ(host.zeroTimeStamp(kSpeaker).sampleTime, 2 * 16384.0);

  ASSERT_EQ(host.stopIO(kSpeaker, 1), 0);
  ASSERT_EQ(host.stopIO(kSpeaker, 2), 0);
  host.advanceFrames(16384, 48000.0);
  ASSERT_EQ(host.startIO(kSpeaker, 3), 0);
  const ZeroTimeStamp restarted = host.zeroTimeStamp(kSpeaker);
  EXPECT_EQ(restarted.sampleTime, 0.0);
  EXPECT_EQ(restarted.hostTime, host.hostTime());
  EXPECT_EQ(restarted.seed, 1u) << "the seed never changes";

  // The other device kept its clock.
  host.advanceFrames(16384, 48000.0);
  EXPECT_EQ(host.zeroTimeStamp(kMicrophone).sampleTime, 4 * 16384.0);
  EXPECT_EQ(host.zeroTimeStamp(kSpeaker).sampleTime, 16384.0);
}

// Apple silicon counts host time in 24 MHz ticks (timebase 125/3).
TEST(ClockTimebase, HostTicksFollowTheTimebaseFromInitialize) {
  HostSimulator host(125, 3);
  host.advanceTicks(240'000'000);
  EXPECT_EQ(host.zeroTimeStamp(kMicrophone).status, 0);
  EXPECT_EQ(host.zeroTimeStamp(kMicrophone).sampleTime, 0.0) << "the clock stands still before Initialize";
  ASSERT_EQ(host.initialize(), 0);
  ASSERT_EQ(host.startIO(kMicrophone, 1), 0);
  const uint64_t anchor = host.hostTime();
  host.advanceTicks(24'000'000);  // one second
  const ZeroTimeStamp stamp = host.zeroTimeStamp(kMicrophone);
  EXPECT_EQ(stamp.sampleTime, 2 * 16384.0);
  EXPECT_EQ(stamp.hostTime, anchor + 2 * 8'192'000u);
  host.advanceTicks(600 * 24'000'000ull);
  EXPECT_FALSE(host.logged("clock jumped")) << "noticed only when a time stamp is asked for";
  EXPECT_EQ(host.zeroTimeStamp(kMicrophone).sampleTime, 1760 * 16384.0);
  EXPECT_TRUE(host.logged("clock jumped forward 1758 periods"));
}

}  // namespace
}  // namespace oskel::driver_test
