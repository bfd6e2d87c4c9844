// Loopback through the lap-tagged ring, IO start and stop counting, and the
// position log, driven as the audio server's IO cycles drive them.
#include <cmath>
#include <numbers>

#include "DriverTestSupport.h"

namespace oskel::driver_test {
namespace {

using LoopbackTest = DriverTest;

// A 1 kHz tone as a function of absolute sample time: left sine, right cosine.
std::vector<float> toneAt(Float64 firstFrame, UInt32 frames) {
  std::vector<float> samples(2 * frames);
  for (UInt32 i = 0; i < frames; ++i) {
    const double phase = 2.0 * std::numbers::pi * 1000.0 * (firstFrame + i) / 48000.0;
    samples[2 * i] = static_cast<float>(0.5 * std::sin(phase));
    samples[2 * i + 1] = static_cast<float>(0.5 * std::cos(phase));
  }
  return samples;
}

// As the audio server's IO cycles drive it: each cycle reads at its input time
// (one buffer back) and writes at its output time (one buffer ahead), so a
// frame written in one cycle is read two cycles later.
TEST_F(LoopbackTest, ToneComesBackBitExactOnTheSameDeviceOnly) {
  constexpr UInt32 kBuffer = 512;
  ASSERT_EQ(host.startIO(kMicrophone, 1), 0);
  ASSERT_EQ(host.startIO(kSpeaker, 2), 0);
  for (int cycle = 0; cycle < 400; ++cycle) {  // 4.3 s: the ring wraps three times
    const Float64 input = kBuffer * (cycle - 1.0), output = kBuffer * (cycle + 1.0);
    const auto heard = host.readFrames(kMicrophone, input, kBuffer);
    if (cycle >= 2) {
      ASSERT_EQ(heard, toneAt(input, kBuffer)) << "cycle " << cycle;
    } else {
      EXPECT_TRUE(allZero(heard)) << "nothing was played for these sample times";
    }
    ASSERT_EQ(host.writeAt(kMicrophone, output, toneAt(output, kBuffer)), 0);
    ASSERT_TRUE(allZero(host.readFrames(kSpeaker, input, kBuffer))) << "cycle " << cycle;
  }
}

TEST_F(LoopbackTest, WrittenFramesReadBackMixedWithinTheirLapOnlyAndUnaddressableTimesAreSilent) {
  const auto frames = rampFrames(512, 1.0f);
  ASSERT_EQ(host.writeAt(kSpeaker, 1000, frames), 0);
  EXPECT_EQ(host.readFrames(kSpeaker, 1000, 512), frames);
  EXPECT_TRUE(allZero(host.readFrames(kSpeaker, 1512, 512)));

  // Straddling the end of what was written.
  const std::vector<float> expected{509, -509, 510, -510, 511, -511, 512, -512, 0, 0, 0, 0, 0, 0, 0, 0};  // ramp starts at 1
  EXPECT_EQ(host.readFrames(kSpeaker, 1508, 8), expected);

  // A second write of the same time mixes, whether or not the streams are active.
  const UInt32 off = 0;
  ASSERT_EQ(host.set(kSpeakerOutput, kAudioStreamPropertyIsActive, off), 0);
  ASSERT_EQ(host.set(kSpeakerInput, kAudioStreamPropertyIsActive, off), 0);
  const auto second = rampFrames(512, 0.5f);
  ASSERT_EQ(host.writeAt(kSpeaker, 1000, second), 0);
  const auto mixed = host.readFrames(kSpeaker, 1000, 512);
  for (size_t i = 0; i < mixed.size(); ++i) EXPECT_EQ(mixed[i], frames[i] + second[i]);

  // Times the ring cannot address give silence and leave the ring alone.
  for (Float64 time : {-1.0, -512.0, std::nan(""), 1e30, std::numeric_limits<double>::infinity()}) {
    SCOPED_TRACE(time);
    EXPECT_EQ(host.writeAt(kSpeaker, time, frames), 0);
    EXPECT_TRUE(allZero(host.readFrames(kSpeaker, time, 512)));
  }
  EXPECT_TRUE(allZero(host.readFrames(kSpeaker, 0, 32)));

  // A frame belongs to one lap only.
  const Float64 t = 123456;
  const auto old = rampFrames(16, 1.0f);
  ASSERT_EQ(host.writeAt(kMicrophone, t, old), 0);
  EXPECT_TRUE(allZero(host.readFrames(kMicrophone, t + 65536, 16))) << "the slot holds the previous lap";

  const auto newer = rampFrames(16, 100.0f);
  ASSERT_EQ(host.writeAt(kMicrophone, t + 65536, newer), 0);
  EXPECT_EQ(host.readFrames(kMicrophone, t + 65536, 16), newer) << "overwritten, not added";
  EXPECT_TRUE(allZero(host.readFrames(kMicrophone, t, 16)));
}

TEST_F(LoopbackTest, OperationsMustMatchTheirStream) {
  const auto& t = host.call();
  const auto d = host.driver();
  AudioServerPlugInIOCycleInfo cycle{};
  std::vector<float> buffer(16);
  const auto doIO = [&](AudioObjectID stream, UInt32 operation, const AudioServerPlugInIOCycleInfo* info,
                        float* main) {
    return t.DoIOOperation(d, kMicrophone, stream, 1, operation, 8, info, main, nullptr);
  };
  const OSStatus bad = kAudioHardwareBadObjectError;
  EXPECT_EQ(doIO(kMicrophoneInput, kAudioServerPlugInIOOperationWriteMix, &cycle, buffer.data()), bad);
  EXPECT_EQ(doIO(kMicrophoneOutput, kAudioServerPlugInIOOperationReadInput, &cycle, buffer.data()), bad);
  EXPECT_EQ(doIO(kSpeakerOutput, kAudioServerPlugInIOOperationWriteMix, &cycle, buffer.data()), bad);
  EXPECT_EQ(doIO(kSpeakerInput, kAudioServerPlugInIOOperationReadInput, &cycle, buffer.data()), bad);
  EXPECT_EQ(doIO(kMicrophoneOutput, kAudioServerPlugInIOOperationMixOutput, &cycle, buffer.data()), bad);
  EXPECT_EQ(doIO(kMicrophoneOutput, kAudioServerPlugInIOOperationWriteMix, nullptr, buffer.data()),
            kAudioHardwareIllegalOperationError);
  EXPECT_EQ(doIO(kMicrophoneInput, kAudioServerPlugInIOOperationReadInput, &cycle, nullptr),
            kAudioHardwareIllegalOperationError);

  for (const auto& [operation, does] : {std::pair{kAudioServerPlugInIOOperationReadInput, true},
                                        {kAudioServerPlugInIOOperationWriteMix, true},
                                        {kAudioServerPlugInIOOperationMixOutput, false}}) {
    Boolean willDo = 9, inPlace = 0;
    EXPECT_EQ(t.WillDoIOOperation(d, kSpeaker, 1, operation, &willDo, &inPlace), 0);
    EXPECT_EQ(willDo != 0, does) << operation;
    EXPECT_TRUE(inPlace) << operation;
  }
  EXPECT_EQ(t.WillDoIOOperation(d, kSpeaker, 1, kAudioServerPlugInIOOperationCycle, nullptr, nullptr), 0);
  EXPECT_EQ(t.BeginIOOperation(d, kSpeaker, 1, kAudioServerPlugInIOOperationReadInput, 8, &cycle), 0);
  EXPECT_EQ(t.EndIOOperation(d, kSpeaker, 1, kAudioServerPlugInIOOperationReadInput, 8, &cycle), 0);
}

TEST_F(LoopbackTest, StartAndStopCountClientsAndOnlyTheFirstStartClearsTheRing) {
  EXPECT_EQ(host.startIO(kMicrophone, 1), 0);
  EXPECT_TRUE(host.logged("OskelAudio: Oskel Microphone: IO started"));
  EXPECT_EQ(host.get<UInt32>(kMicrophone, kAudioDevicePropertyDeviceIsRunning).value(), 1u);
  EXPECT_EQ(host.get<UInt32>(kSpeaker, kAudioDevicePropertyDeviceIsRunning).value(), 0u);
  EXPECT_EQ(host.startIO(kMicrophone, 2), 0);
  EXPECT_TRUE(host.logged("OskelAudio: Oskel Microphone: IO client joined (now 2 running)"));
  EXPECT_EQ(host.startIO(kMicrophone, 3), 0);
  EXPECT_TRUE(host.logged("IO client joined (now 3 running)"));

  EXPECT_EQ(host.stopIO(kMicrophone, 2), 0);
  EXPECT_TRUE(host.logged("OskelAudio: Oskel Microphone: IO client left (now 2 running)"));
  EXPECT_EQ(host.stopIO(kMicrophone, 1), 0);
  EXPECT_EQ(host.get<UInt32>(kMicrophone, kAudioDevicePropertyDeviceIsRunning).value(), 1u);
  EXPECT_EQ(host.stopIO(kMicrophone, 3), 0);
  EXPECT_TRUE(host.logged("OskelAudio: Oskel Microphone: IO stopped"));
  EXPECT_EQ(host.get<UInt32>(kMicrophone, kAudioDevicePropertyDeviceIsRunning).value(), 0u);

  host.clearLog();
  EXPECT_EQ(host.stopIO(kMicrophone, 3), kAudioHardwareIllegalOperationError);
  EXPECT_TRUE(host.log().empty());
  EXPECT_EQ(host.startIO(kMicrophone, 4), 0);
  EXPECT_TRUE(host.logged("IO started")) << "the refused stop left the count at zero";

  // Only the first start clears the ring.
  const auto frames = rampFrames(128, 1.0f);
  ASSERT_EQ(host.startIO(kSpeaker, 1), 0);
  ASSERT_EQ(host.writeAt(kSpeaker, 2000, frames), 0);

  ASSERT_EQ(host.startIO(kSpeaker, 2), 0);
  EXPECT_EQ(host.readFrames(kSpeaker, 2000, 128), frames) << "a joining client keeps what is playing";

  ASSERT_EQ(host.stopIO(kSpeaker, 1), 0);
  ASSERT_EQ(host.stopIO(kSpeaker, 2), 0);
  EXPECT_EQ(host.readFrames(kSpeaker, 2000, 128), frames) << "stopping keeps the ring";

  ASSERT_EQ(host.startIO(kSpeaker, 3), 0);
  EXPECT_TRUE(allZero(host.readFrames(kSpeaker, 2000, 128))) << "a new session starts silent";
}

TEST_F(LoopbackTest, PositionLogEveryThirtySecondsAndOnEveryJumpBack) {
  std::vector<float> buffer(2 * 512);
  ASSERT_EQ(host.readAt(kMicrophone, 0, buffer), 0);
  ASSERT_EQ(host.readAt(kMicrophone, 1439999, buffer), 0);
  EXPECT_FALSE(host.logged("read at frame"));

  ASSERT_EQ(host.readAt(kMicrophone, 1440000, buffer), 0);
  EXPECT_TRUE(host.logged("OskelAudio: Oskel Microphone: read at frame 1440000 (lap 21)"));
  ASSERT_EQ(host.readAt(kMicrophone, 2879999, buffer), 0);
  EXPECT_EQ(host.countLogged("read at frame"), 1u);
  ASSERT_EQ(host.readAt(kMicrophone, 2880000, buffer), 0);
  EXPECT_TRUE(host.logged("OskelAudio: Oskel Microphone: read at frame 2880000 (lap 43)"));

  ASSERT_EQ(host.readAt(kMicrophone, 2879000, buffer), 0);
  EXPECT_TRUE(host.logged("read at frame 2879000 (lap 43)")) << "any step back is reported";
  EXPECT_FALSE(host.logged("write at frame")) << "reads and writes are tracked apart";

  ASSERT_EQ(host.writeAt(kSpeaker, 5000000, buffer), 0);
  EXPECT_TRUE(host.logged("OskelAudio: Oskel Speaker: write at frame 5000000 (lap 76)"));

  // Positions are not reset by a new start.
  ASSERT_EQ(host.startIO(kMicrophone, 1), 0);
  host.clearLog();
  ASSERT_EQ(host.readAt(kMicrophone, 2880000, buffer), 0);
  EXPECT_FALSE(host.logged("read at frame"));
}

}  // namespace
}  // namespace oskel::driver_test
