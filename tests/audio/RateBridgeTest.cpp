#include <atomic>
#include <cmath>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "SimDevices.h"
#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/DeviceRateWatcher.h"
#include "support/LogCapture.h"

using namespace oskel;
using test::simDevice;

namespace {

class RateChanges : public ::testing::Test {
 protected:
  AudioDeviceInfo add(SimulatedAudioHost::Device device) { return *AudioDevices::info(*host, host->add(device)); }

  std::shared_ptr<SimulatedAudioHost> host = SimulatedAudioHost::make();
  test::LogCapture log;
};

}  // namespace

TEST_F(RateChanges, CaptureKeepsItsRateWhileTheDeviceRunsAt44100AndBack) {
  const auto device = add(simDevice("USB Mic", "U", 1, 0, 48000));
  size_t delivered = 0;
  auto capture = AudioCapture::make(host, device, [&](std::span<const float> frames) { delivered += frames.size(); });
  ASSERT_TRUE((*capture)->start());
  host->step(480);
  EXPECT_EQ(delivered, 480u);

  host->setNominalRate(device.id, 44100);
  EXPECT_EQ(log.count("USB Mic now runs at 44100 Hz; capture resampled from/to 48000 Hz"), 1u);
  delivered = 0;
  for (int i = 0; i < 100; ++i) host->step(441);  // one second at the device's new rate
  EXPECT_NEAR(static_cast<double>(delivered), 48000.0, 2.0);
  EXPECT_EQ((*capture)->sampleRate(), 48000.0);

  host->setNominalRate(device.id, 48000);
  EXPECT_EQ(log.count("USB Mic now runs at 48000 Hz; capture resampled from/to 48000 Hz"), 1u);
  delivered = 0;
  host->step(480);
  EXPECT_EQ(delivered, 480u);
  // The same rate again is no change.
  host->setNominalRate(device.id, 48000);
  EXPECT_EQ(log.count("now runs at"), 2u);
}

TEST_F(RateChanges, PlaybackPullsAtItsRateWhileTheDeviceRunsAt44100) {
  const auto device = add(simDevice("Speakers", "S", 0, 2, 48000));
  size_t pulled = 0;
  auto playback = AudioPlayback::make(host, device, [&](std::span<float> frames) {
    for (float& sample : frames) sample = 0.5f;
    pulled += frames.size();
  });
  ASSERT_TRUE((*playback)->start());
  host->setNominalRate(device.id, 44100);
  EXPECT_TRUE(log.contains("Speakers now runs at 44100 Hz; playback resampled from/to 48000 Hz"));
  for (int i = 0; i < 100; ++i) host->step(441);
  // Pulled in 10 ms chunks at 48 kHz: one second, plus what waits in the bridge.
  EXPECT_GE(pulled, 48000u);
  EXPECT_LE(pulled, 48000u + 2 * 480u);
  EXPECT_EQ(pulled % 480, 0u);
  EXPECT_EQ(host->lastOutput(device.id), std::vector<float>(882, 0.5f));
}

TEST_F(RateChanges, ARateKnownAtStartIsBridgedFromTheFirstCycle) {
  const auto device = add(simDevice("Mic", "M", 1, 0, 48000));
  size_t delivered = 0;
  auto capture = AudioCapture::make(host, device, [&](std::span<const float> frames) { delivered += frames.size(); });
  host->setNominalRate(device.id, 96000);  // before start: nobody listens yet
  EXPECT_FALSE(log.contains("now runs at"));
  ASSERT_TRUE((*capture)->start());
  EXPECT_TRUE(log.contains("Mic now runs at 96000 Hz; capture resampled from/to 48000 Hz"));
  host->step(960);
  EXPECT_NEAR(static_cast<double>(delivered), 480.0, 1.0);
  (*capture)->stop();
  // A stopped endpoint no longer watches.
  host->setNominalRate(device.id, 44100);
  EXPECT_EQ(log.count("now runs at"), 1u);
}

TEST_F(RateChanges, WatcherIgnoresUnreadableAndNonPositiveRates) {
  const auto device = add(simDevice("Mic", "M", 1, 0, 48000));
  DeviceRateWatcher watcher(host, device, 48000, "capture");
  watcher.start();
  host->setNominalRate(device.id, 0);
  host->setNominalRate(device.id, -44100);
  EXPECT_EQ(watcher.current(), nullptr);
  host->setNominalRate(device.id, 44100);
  const auto bridge = watcher.current();
  ASSERT_NE(bridge, nullptr);
  EXPECT_EQ(bridge->fromRate(), 44100.0);
  EXPECT_EQ(bridge->toRate(), 48000.0);
  host->remove(device.id);
  watcher.update();
  EXPECT_EQ(watcher.current(), bridge);
  watcher.stop();
  EXPECT_EQ(watcher.current(), nullptr);
}

TEST(RateBridge, PullZeroFillsWhatTheBufferCannotTake) {
  RateBridge bridge(48000, 44100);
  int renders = 0;
  const AudioOutputEndpoint::RenderCallback render = [&](std::span<float> frames) {
    ++renders;
    std::fill(frames.begin(), frames.end(), 1.0f);
  };
  std::vector<float> out(70000, -1.0f);
  bridge.pull(out.data(), static_cast<int64_t>(out.size()), render);
  // 442 samples at most per chunk; chunks stop once another might not fit.
  const int64_t filled = static_cast<int64_t>(renders) * 441;
  EXPECT_GT(filled, RateBridge::capacity - 442 * 2);
  EXPECT_LE(filled, RateBridge::capacity);
  for (int64_t i = 1; i < filled - 1; ++i) ASSERT_FLOAT_EQ(out[static_cast<size_t>(i)], 1.0f) << i;
  for (size_t i = RateBridge::capacity; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << i;
  EXPECT_EQ(bridge.pendingCount(), 0);
}

TEST(RateBridge, PullKeepsLeftoversForTheNextRequest) {
  RateBridge bridge(48000, 44100);
  float next = 0.0f;
  const AudioOutputEndpoint::RenderCallback render = [&](std::span<float> frames) {
    for (float& sample : frames) sample = next++;
  };
  std::vector<float> out(300);
  bridge.pull(out.data(), 100, render);
  EXPECT_EQ(next, 480.0f);  // one 10 ms chunk: about 441 samples at 44.1 kHz
  const int64_t left = bridge.pendingCount();
  EXPECT_NEAR(static_cast<double>(left), 341.0, 1.0);
  bridge.pull(out.data(), 300, render);
  EXPECT_EQ(next, 480.0f);  // served from what was left
  EXPECT_EQ(bridge.pendingCount(), left - 300);
  // The leftovers continue the ramp where the first request ended.
  EXPECT_NEAR(out[0], 100.0f * 48000.0f / 44100.0f - 1.0f, 0.01f);
}

// A device that drops to 8 kHz under a 48 kHz capture produces six times
// its input; the bridge delivers all of it in several runs.
TEST(RateBridge, LargeUpsamplingDeliversEverything) {
  RateBridge bridge(8000, 48000);
  const std::vector<float> input(16384, 0.25f);
  size_t delivered = 0;
  size_t largest = 0;
  bridge.convert(input, [&](std::span<const float> frames) {
    delivered += frames.size();
    largest = std::max(largest, frames.size());
  });
  EXPECT_NEAR(static_cast<double>(delivered), 16384.0 * 6, 6.0);
  EXPECT_LE(largest, static_cast<size_t>(RateBridge::capacity));
}

// The IO thread keeps running while another thread flips the device's rate:
// bridges appear, are replaced and retire without the IO thread ever seeing
// a freed one.
TEST_F(RateChanges, RateFlipsWhileTheIOThreadRuns) {
  const auto mic = add(simDevice("Mic", "M", 1, 0, 48000));
  const auto speaker = add(simDevice("Speakers", "S", 0, 1, 48000));
  std::atomic<size_t> delivered{0};
  auto capture = AudioCapture::make(host, mic, [&](std::span<const float> frames) { delivered += frames.size(); });
  auto playback = AudioPlayback::make(host, speaker, [](std::span<float> frames) {
    std::fill(frames.begin(), frames.end(), 0.1f);
  });
  ASSERT_TRUE((*capture)->start());
  ASSERT_TRUE((*playback)->start());
  std::atomic<bool> done{false};
  std::thread io([&] {
    while (!done.load()) host->step(256);
  });
  const double rates[] = {44100, 48000, 96000, 32000};
  for (int i = 0; i < 400; ++i) {
    host->setNominalRate(mic.id, rates[i % 4]);
    host->setNominalRate(speaker.id, rates[(i + 1) % 4]);
  }
  done = true;
  io.join();
  (*capture)->stop();
  (*playback)->stop();
  EXPECT_GT(delivered.load(), 0u);
}
