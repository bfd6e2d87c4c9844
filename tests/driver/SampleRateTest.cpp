// Rate changes go through the host's configuration-change protocol: asked for
// from the global queue, carried out when the host says so, nothing else.
#include <cmath>

#include "DriverTestSupport.h"

namespace oskel::driver_test {
namespace {

using SampleRateTest = DriverTest;

AudioStreamBasicDescription floatStereo(Float64 rate) {
  return {.mSampleRate = rate,
          .mFormatID = kAudioFormatLinearPCM,
          .mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
          .mBytesPerPacket = 8,
          .mFramesPerPacket = 1,
          .mBytesPerFrame = 8,
          .mChannelsPerFrame = 2,
          .mBitsPerChannel = 32,
          .mReserved = 0};
}

TEST_F(SampleRateTest, NominalRateChangeIsRequestedFromTheQueueAndPerformedByTheHost) {
  const Float64 rate = 44100.0;
  ASSERT_EQ(host.set(kMicrophone, kAudioDevicePropertyNominalSampleRate, rate), 0);

  // Not from inside the property call.
  EXPECT_TRUE(host.configurationRequests.empty());
  EXPECT_EQ(announcements(host), "2:nsrt/glob/0");

  EXPECT_EQ(host.runGlobalQueue(), 1u);
  EXPECT_EQ(host.configurationRequests, (std::vector<ConfigurationRequest>{{kMicrophone, 44100, nullptr}}));
  EXPECT_EQ(host.get<Float64>(kMicrophone, kAudioDevicePropertyNominalSampleRate).value(), 48000.0)
      << "unchanged until the host performs the change";

  ASSERT_EQ(host.performRequestedChanges(), 0);
  EXPECT_EQ(host.get<Float64>(kMicrophone, kAudioDevicePropertyNominalSampleRate).value(), 44100.0);
  EXPECT_EQ(host.get<AudioStreamBasicDescription>(kMicrophoneInput, kAudioStreamPropertyVirtualFormat)->mSampleRate,
            44100.0);
  EXPECT_EQ(host.get<AudioStreamBasicDescription>(kMicrophoneOutput, kAudioStreamPropertyPhysicalFormat)->mSampleRate,
            44100.0);
  EXPECT_EQ(host.get<Float64>(kSpeaker, kAudioDevicePropertyNominalSampleRate).value(), 48000.0);
  EXPECT_TRUE(host.logged("OskelAudio: Oskel Microphone: sample rate changed to 44100"));
}

TEST_F(SampleRateTest, OnlySupportedRatesChangeAnythingAndStreamFormatsChangeOnlyTheRate) {
  for (Float64 rate : {96000.0, 44100.5, 0.0, -48000.0, 22050.0}) {
    EXPECT_EQ(host.set(kSpeaker, kAudioDevicePropertyNominalSampleRate, rate), kAudioHardwareIllegalOperationError);
  }
  const float wrongSize = 44100.0f;
  EXPECT_EQ(host.set(kSpeaker, kAudioDevicePropertyNominalSampleRate, wrongSize), kAudioHardwareBadPropertySizeError);
  AudioStreamBasicDescription int16 = floatStereo(48000.0);
  int16.mFormatFlags = 12;  // signed integer, packed
  int16.mBitsPerChannel = 16;
  int16.mBytesPerFrame = int16.mBytesPerPacket = 4;
  EXPECT_EQ(host.set(kSpeakerInput, kAudioStreamPropertyVirtualFormat, int16), kAudioDeviceUnsupportedFormatError);
  AudioStreamBasicDescription mono = floatStereo(44100.0);
  mono.mChannelsPerFrame = 1;
  EXPECT_EQ(host.set(kSpeakerInput, kAudioStreamPropertyPhysicalFormat, mono), kAudioDeviceUnsupportedFormatError);
  EXPECT_EQ(host.set(kSpeakerInput, kAudioStreamPropertyVirtualFormat, floatStereo(32000.0)),
            kAudioHardwareIllegalOperationError);
  EXPECT_EQ(host.setData(kSpeakerInput, kAudioStreamPropertyVirtualFormat, 39, &mono),
            kAudioHardwareBadPropertySizeError);
  EXPECT_EQ(host.runGlobalQueue(), 0u);
  EXPECT_EQ(announcements(host), "");
  EXPECT_EQ(host.get<Float64>(kSpeaker, kAudioDevicePropertyNominalSampleRate).value(), 48000.0);

  // The host performs only supported rates, and an aborted change changes nothing.
  EXPECT_EQ(host.call().PerformDeviceConfigurationChange(host.driver(), kSpeaker, 96000, nullptr),
            kAudioHardwareBadObjectError);
  EXPECT_EQ(host.call().AbortDeviceConfigurationChange(host.driver(), kSpeaker, 44100, nullptr), 0);
  EXPECT_EQ(host.get<Float64>(kSpeaker, kAudioDevicePropertyNominalSampleRate).value(), 48000.0);

  // The current rate needs no configuration change; a supported stream format asks for its rate.
  EXPECT_EQ(host.set(kSpeaker, kAudioDevicePropertyNominalSampleRate, 48000.0), 0);
  EXPECT_EQ(host.runGlobalQueue(), 0u);
  EXPECT_TRUE(host.configurationRequests.empty());
  EXPECT_EQ(host.set(kSpeakerOutput, kAudioStreamPropertyPhysicalFormat, floatStereo(44100.0)), 0);
  host.runGlobalQueue();
  EXPECT_EQ(host.configurationRequests, (std::vector<ConfigurationRequest>{{kSpeaker, 44100, nullptr}}));
}

TEST_F(SampleRateTest, RateChangeEmptiesTheRingAndReclocks) {
  ASSERT_EQ(host.startIO(kMicrophone, 1), 0);
  const auto frames = rampFrames(256, 1.0f);
  ASSERT_EQ(host.writeAt(kMicrophone, 5000, frames), 0);
  ASSERT_EQ(host.writeAt(kSpeaker, 5000, frames), 0);
  host.advanceFrames(2 * 16384, 48000.0);
  const ZeroTimeStamp before = host.zeroTimeStamp(kMicrophone);
  ASSERT_EQ(before.sampleTime, 2 * 16384.0);

  ASSERT_EQ(host.call().PerformDeviceConfigurationChange(host.driver(), kMicrophone, 44100, nullptr), 0);
  EXPECT_TRUE(allZero(host.readFrames(kMicrophone, 5000, 256))) << "frames of the old rate are gone";
  EXPECT_EQ(host.readFrames(kSpeaker, 5000, 256), frames) << "the other device keeps its audio";

  // Same anchor and period count, periods now measured at 44100 frames per second.
  const ZeroTimeStamp same = host.zeroTimeStamp(kMicrophone);
  EXPECT_EQ(same.sampleTime, before.sampleTime);
  EXPECT_EQ(same.seed, before.seed);
  host.advanceSeconds(3.0);  // the host clock now stands at 3.68 s past the anchor: 9.9 periods at 44100 Hz
  const ZeroTimeStamp after = host.zeroTimeStamp(kMicrophone);
  const double secondsPastAnchor = 2 * 16384 / 48000.0 + 3.0;
  EXPECT_EQ(after.sampleTime, std::floor(secondsPastAnchor * 44100.0 / 16384) * 16384);
}

}  // namespace
}  // namespace oskel::driver_test
