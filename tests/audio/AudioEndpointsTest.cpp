#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "SimDevices.h"
#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"

using namespace oskel;
using test::simDevice;

namespace {

class Endpoints : public ::testing::Test {
 protected:
  // Callbacks run inside real-time sections: what they collect into must not grow there.
  Endpoints() {
    received.reserve(65536);
    runs.reserve(64);
  }

  AudioDeviceInfo add(SimulatedAudioHost::Device device) { return *AudioDevices::info(*host, host->add(device)); }

  std::unique_ptr<AudioCapture> capture(const AudioDeviceInfo& device) {
    auto made = AudioCapture::make(host, device, [this](std::span<const float> frames) {
      runs.push_back(frames.size());
      received.insert(received.end(), frames.begin(), frames.end());
    });
    EXPECT_TRUE(made) << made.error().description();
    return made ? std::move(*made) : nullptr;
  }

  std::shared_ptr<SimulatedAudioHost> host = SimulatedAudioHost::make();
  std::vector<float> received;
  std::vector<size_t> runs;
};

std::vector<float> ramp(size_t n, float start = 0.0f) {
  std::vector<float> samples(n);
  std::iota(samples.begin(), samples.end(), start);
  return samples;
}

}  // namespace

TEST_F(Endpoints, ConstructionRefusesDevicesWithoutStreamsOrWithUnusableFormats) {
  const auto speaker = add(simDevice("Speakers", "S", 0, 2));
  EXPECT_EQ(AudioCapture::make(host, speaker).error().description(), "Speakers has no input streams");
  const auto mic = add(simDevice("Mic", "M", 1, 0));
  EXPECT_EQ(AudioPlayback::make(host, mic).error().description(), "Mic has no output streams");

  auto integer = simDevice("Old Interface", "I", 2, 2);
  integer.inputFormat = AudioStreamFormat{48000, AudioStreamFormat::linearPCM, 1u << 2, 16, 2};
  integer.outputFormat = AudioStreamFormat{48000, AudioStreamFormat::linearPCM,
                                           AudioStreamFormat::flagIsFloat | AudioStreamFormat::flagIsNonInterleaved,
                                           32, 2};
  const auto interface = add(integer);
  EXPECT_EQ(AudioCapture::make(host, interface).error(),
            AudioIOError::unsupportedFormat("Old Interface", "formatID=1819304813 flags=4 bits=16"));
  EXPECT_EQ(AudioPlayback::make(host, interface).error().description(),
            "Old Interface: unsupported stream format (formatID=1819304813 flags=33 bits=32); "
            "expected 32-bit float interleaved PCM");
}

TEST_F(Endpoints, CapturePresentsTheDeviceRateAndAveragesChannels) {
  const auto device = add(simDevice("Stereo Mic", "SM", 2, 0, 44100));
  auto endpoint = capture(device);
  EXPECT_EQ(endpoint->sampleRate(), 44100.0);
  EXPECT_EQ(endpoint->sourceChannels(), 2);
  EXPECT_EQ(endpoint->name(), "Stereo Mic");
  ASSERT_TRUE(endpoint->start());
  host->feedInput(device.id, std::vector<float>{1.0f, 0.0f, 0.5f, -0.5f, -1.0f, 0.25f});
  host->step(3);
  EXPECT_EQ(received, (std::vector<float>{0.5f, 0.0f, -0.375f}));
}

TEST_F(Endpoints, CaptureCutsLongCyclesDropsFramesWithoutCallbackAndStopsWithItsDevice) {
  const auto device = add(simDevice("Mic", "M", 1, 0));
  auto endpoint = capture(device);
  ASSERT_TRUE(endpoint->start());
  host->feedInput(device.id, ramp(20000));
  host->step(20000);
  EXPECT_EQ(runs, std::vector<size_t>{16384});
  EXPECT_EQ(received.back(), 16383.0f);

  endpoint->setOnFrames({});
  endpoint->stop();
  ASSERT_TRUE(endpoint->start());
  host->step(480);  // nothing to deliver to, nothing breaks
  EXPECT_EQ(runs.size(), 1u);

  // A vanished device stops delivering and cannot start again.
  endpoint->setOnFrames(
      [this](std::span<const float> frames) { received.insert(received.end(), frames.begin(), frames.end()); });
  received.clear();
  host->feedInput(device.id, ramp(960));
  host->step(480);
  host->remove(device.id);
  host->step(480);
  EXPECT_EQ(received.size(), 480u);
  endpoint->stop();
  EXPECT_FALSE(endpoint->start());
}

TEST_F(Endpoints, StartAndStopAreIdempotentRestartableAndFailuresLeaveNoStream) {
  const auto device = add(simDevice("Mic", "M", 1, 0));
  auto endpoint = capture(device);
  endpoint->stop();
  ASSERT_TRUE(endpoint->start());
  ASSERT_TRUE(endpoint->start());
  EXPECT_EQ(host->openStreams(device.id), 1u);
  endpoint->stop();
  endpoint->stop();
  EXPECT_EQ(host->openStreams(device.id), 0u);

  // Failed starts name the call and leave no stream.
  host->failNextOpen(-50);
  EXPECT_EQ(endpoint->start().error().description(), "AudioDeviceCreateIOProcID(Mic) failed (OSStatus -50)");
  host->failNextStart(1852797029);
  EXPECT_EQ(endpoint->start().error(), AudioIOError::coreAudio("AudioDeviceStart(Mic)", 1852797029));
  EXPECT_EQ(host->openStreams(device.id), 0u);
  ASSERT_TRUE(endpoint->start());
  EXPECT_EQ(host->runningStreams(device.id), 1u);
  endpoint.reset();
  EXPECT_EQ(host->openStreams(device.id), 0u);
}

TEST_F(Endpoints, PlaybackWritesTheSameSampleToEveryChannelAndRendersLongCyclesInChunks) {
  const auto device = add(simDevice("Surround", "Six", 0, 6));
  std::vector<size_t> requests;
  requests.reserve(8);
  float next = 0.0f;
  auto endpoint = AudioPlayback::make(host, device, [&](std::span<float> frames) {
    requests.push_back(frames.size());
    for (float& sample : frames) sample = next++;
  });
  ASSERT_TRUE(endpoint);
  EXPECT_EQ((*endpoint)->channels(), 6);
  ASSERT_TRUE((*endpoint)->start());
  host->step(20000);
  EXPECT_EQ(requests, (std::vector<size_t>{16384, 3616}));
  std::vector<float> expected;
  for (float sample : ramp(20000)) expected.insert(expected.end(), 6, sample);
  EXPECT_EQ(host->lastOutput(device.id), expected);
}

TEST_F(Endpoints, PlaybackSilencesExtraBuffersAndPlaysSilenceWithoutRender) {
  auto spec = simDevice("Two Streams", "Two", 0, 2);
  spec.outputStreams = {2, 2};
  const auto device = add(spec);
  auto endpoint = AudioPlayback::make(host, device, [](std::span<float> frames) {
    std::fill(frames.begin(), frames.end(), 0.5f);
  });
  ASSERT_TRUE((*endpoint)->start());
  host->step(4);
  EXPECT_EQ(host->lastOutput(device.id, 0), std::vector<float>(8, 0.5f));
  EXPECT_EQ(host->lastOutput(device.id, 1), std::vector<float>(8, 0.0f));

  (*endpoint)->stop();
  (*endpoint)->setRender({});
  ASSERT_TRUE((*endpoint)->start());
  host->step(4);
  EXPECT_EQ(host->lastOutput(device.id, 0), std::vector<float>(8, 0.0f));
}
