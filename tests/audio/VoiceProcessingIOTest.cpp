#include <algorithm>
#include <vector>

#include <fmt/format.h>

#include <gtest/gtest.h>

#include "SimDevices.h"
#include "audio/AudioDevices.h"
#include "audio/AudioTransport.h"
#include "audio/RealEndpoints.h"
#include "concurrency/ManualClock.h"
#include "support/LogCapture.h"
#include "support/RealtimeGuard.h"

using namespace oskel;
using test::simDevice;

namespace {

class VoiceIO : public ::testing::Test {
 protected:
  VoiceIO() {
    received.reserve(1 << 20);
    pulls.reserve(1 << 16);
    auto micSpec = simDevice("Desk Mic", "mic", 1, 0, 48000.0, AudioTransport::usb);
    micSpec.inputVolume = {0.8f, 0.8f};
    mic = add(micSpec);
    speaker = add(simDevice("Speakers", "spk", 0, 2, 48000.0, AudioTransport::builtIn));
  }

  AudioDeviceInfo add(const SimulatedAudioHost::Device& device) { return *AudioDevices::info(*host, host->add(device)); }

  std::shared_ptr<VoiceProcessingIO> make() {
    auto io = VoiceProcessingIO::make(host, host, mic, speaker, options());
    EXPECT_TRUE(io) << io.error().description();
    if (!io) return nullptr;
    (*io)->input()->setOnFrames([this](std::span<const float> f) { received.insert(received.end(), f.begin(), f.end()); });
    (*io)->output()->setRender([this](std::span<float> f) {
      pulls.push_back(f.size());
      std::fill(f.begin(), f.end(), 0.25f);
    });
    return *io;
  }

  VoiceProcessingIO::Options options() { return {clock, std::chrono::nanoseconds(0)}; }
  void advance(double seconds) { clock->advanceSeconds(seconds); }
  // A rate change as the audio server reports it: within a device-list event.
  void changeRate(const AudioDeviceInfo& device, double rate) {
    host->setNominalRate(device.id, rate);
    const std::string n = std::to_string(++unrelated);
    host->add(simDevice("Unrelated " + n, "other" + n, 1, 0));
  }

  std::shared_ptr<SimulatedAudioHost> host = SimulatedAudioHost::make();
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  test::LogCapture log;
  AudioDeviceInfo mic, speaker;
  std::vector<float> received;
  std::vector<size_t> pulls;
  int unrelated = 0;
};

}  // namespace

TEST_F(VoiceIO, EndpointSelectionSkipsTheCancellerWhereItCannotHelp) {
  const auto bt = add(simDevice("AirPods", "bt", 1, 2, 48000.0, AudioTransport::bluetooth));
  const auto oskel = add(simDevice("Oskel Speaker", "OskelSpeaker_UID", 2, 2, 48000.0, AudioTransport::usb));
  const auto agg = add(simDevice("Aggregate", "agg", 2, 0, 48000.0, AudioTransport::aggregate));
  const auto null = add(simDevice("Null Output", "null", 0, 2, 48000.0, AudioTransport::virtualDevice));

  const auto expectPlain = [&](const AudioDeviceInfo& in, const AudioDeviceInfo& out, const std::string& line) {
    auto made = RealEndpoints::make(host, host, in, out, true, options());
    ASSERT_TRUE(made) << made.error().description();
    EXPECT_EQ(made->voiceProcessing, nullptr);
    EXPECT_EQ(made->input->name(), in.name);
    EXPECT_TRUE(log.contains("INFO  echo cancellation skipped: " + line)) << line;
  };
  expectPlain(bt, null, "AirPods is a Bluetooth microphone and cancels its own echo");
  expectPlain(oskel, speaker, "Oskel Speaker is a virtual device");
  expectPlain(agg, speaker, "Aggregate is a virtual device");
  expectPlain(mic, null, "Null Output is a virtual device");
  EXPECT_EQ(host->cancellerLoads(), 0u);

  auto off = RealEndpoints::make(host, host, mic, speaker, false, options());
  ASSERT_TRUE(off);
  EXPECT_EQ(off->voiceProcessing, nullptr);
  auto on = RealEndpoints::make(host, host, mic, speaker, true, options());
  ASSERT_TRUE(on) << on.error().description();
  ASSERT_NE(on->voiceProcessing, nullptr);
  EXPECT_EQ(on->input->sampleRate(), 48000.0);
  EXPECT_EQ(host->loadedCancellers(), 1u);
  on->voiceProcessing->close();
  EXPECT_EQ(host->loadedCancellers(), 0u);

  host->failCancellerLoads("Module initialization failed");
  auto refused = RealEndpoints::make(host, host, mic, speaker, true, options());
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.error().description(),
            "voice processing IO: the audio server's echo canceller could not be loaded between Desk Mic and "
            "Speakers: Module initialization failed");
}

TEST_F(VoiceIO, EndpointsShareOneEngineAndConvertRates) {
  // Both devices at 44100 Hz: capture arrives at 48000 Hz, playback is
  // pulled in 10 ms chunks at 48000 Hz.
  host->remove(speaker.id);
  host->remove(mic.id);
  speaker = add(simDevice("Speakers", "spk", 0, 2, 44100.0));
  mic = add(simDevice("Desk Mic", "mic", 2, 0, 44100.0));
  auto io = make();
  ASSERT_TRUE(io);
  auto input = io->input();
  auto output = io->output();

  ASSERT_TRUE(input->start());
  ASSERT_TRUE(output->start());
  ASSERT_TRUE(input->start());
  EXPECT_EQ(host->runningStreams(mic.id), 1u);
  EXPECT_EQ(host->runningStreams(speaker.id), 1u);

  std::vector<float> stereo(8820);
  for (size_t i = 0; i < stereo.size(); i += 2) stereo[i] = 0.5f;
  host->feedInput(mic.id, stereo);
  for (int i = 0; i < 10; ++i) host->step(441);  // the paths open real-time sections: no allocation
  EXPECT_NEAR(static_cast<double>(received.size()), 4800.0, 2.0);
  EXPECT_FLOAT_EQ(received.back(), 0.25f) << "two channels averaged";
  ASSERT_FALSE(pulls.empty());
  EXPECT_TRUE(std::ranges::all_of(pulls, [](size_t n) { return n == 480; }));
  EXPECT_FLOAT_EQ(host->lastOutput(speaker.id).back(), 0.25f);

  input->stop();
  input->stop();
  EXPECT_EQ(host->runningStreams(speaker.id), 1u) << "the output still runs";
  output->stop();
  EXPECT_EQ(host->runningStreams(speaker.id), 0u);
  EXPECT_EQ(host->openStreams(mic.id), 0u);
  ASSERT_TRUE(output->start());
  EXPECT_EQ(host->runningStreams(speaker.id), 1u);
  io->close();
}

TEST_F(VoiceIO, ABurstOfDeviceChangesLeadsToOneReconnection) {
  auto io = make();
  ASSERT_TRUE(io && io->input()->start());
  add(simDevice("Unrelated", "other", 1, 0));
  advance(1.0);
  EXPECT_EQ(log.count("devices reconfigured"), 0u) << "a device of no concern changes nothing";

  changeRate(mic, 44100.0);
  advance(0.1);
  changeRate(mic, 32000.0);
  advance(0.1);
  changeRate(mic, 44100.0);
  advance(0.29);
  EXPECT_EQ(log.count("devices reconfigured"), 0u);
  advance(0.01);
  EXPECT_EQ(log.count("INFO  voice processing IO: devices reconfigured (in 44100 Hz/1 ch, out 48000 Hz); reconnecting"), 1u);
  advance(5.0);
  EXPECT_EQ(log.count("devices reconfigured"), 1u);
  EXPECT_EQ(host->runningStreams(mic.id), 1u);
  EXPECT_EQ(host->loadedCancellers(), 1u);
  EXPECT_EQ(host->cancellerLoads(), 2u);
  io->close();
}

TEST_F(VoiceIO, AVanishedMicrophoneIsRetriedFiveTimesThenAwaitsItsReturn) {
  auto io = make();
  ASSERT_TRUE(io && io->input()->start());
  host->remove(mic.id);
  advance(0.3);
  EXPECT_TRUE(log.contains("ERROR voice processing IO: devices went away; audio paused until they return"));
  for (int a = 1; a <= 5; ++a) {
    EXPECT_TRUE(log.contains(fmt::format("INFO  voice processing IO: retrying reconnect in {} s (attempt {} of 5)", a, a)));
    advance(a - 0.01);
    EXPECT_EQ(log.count("went away"), static_cast<size_t>(a));
    advance(0.01);
  }
  advance(60.0);
  EXPECT_EQ(log.count("went away"), 6u);
  EXPECT_EQ(log.count("retrying reconnect"), 5u);

  auto back = simDevice("Desk Mic", "mic", 1, 0);
  back.inputVolume = {0.8f, 0.8f};
  const auto id = host->add(back);
  advance(0.3);
  EXPECT_EQ(host->runningStreams(id), 1u);
  EXPECT_TRUE(io->echoCancellationOn());
  host->feedInput(id, std::vector<float>(480, 0.5f));
  host->step(480);
  EXPECT_FALSE(received.empty());
  io->close();
  EXPECT_EQ(host->loadedCancellers(), 0u);
}

TEST_F(VoiceIO, FallsBackToPlainIOOnceWhenTheCancellerWillNotReload) {
  auto io = make();
  ASSERT_TRUE(io && io->input()->start() && io->output()->start());
  host->failCancellerLoads("refused", 1);
  changeRate(speaker, 44100.0);
  advance(0.3);
  EXPECT_TRUE(log.contains("WARN  voice processing IO: reconnect failed (voice processing IO: the audio server's echo "
                           "canceller could not be loaded between Desk Mic and Speakers: refused); retrying without "
                           "echo cancellation"));
  EXPECT_FALSE(io->echoCancellationOn());
  EXPECT_EQ(host->runningStreams(mic.id), 1u);
  EXPECT_EQ(host->runningStreams(speaker.id), 1u);

  changeRate(speaker, 48000.0);
  advance(0.3);
  EXPECT_EQ(log.count("echo cancellation off for this session — Stop and Start to turn it back on"), 1u);
  EXPECT_EQ(host->loadedCancellers(), 0u);
  EXPECT_EQ(host->cancellerLoads(), 1u) << "no canceller is tried again";
  io->close();
}

TEST_F(VoiceIO, CloseIsIdempotentCancelsPendingWorkAndRestoresTheVolume) {
  auto io = make();
  ASSERT_TRUE(io && io->input()->start());
  host->setInputVolume(mic.id, std::vector<float>{0.33f, 0.8f});
  changeRate(mic, 44100.0);
  io->close();
  io->close();
  advance(1.0);
  EXPECT_EQ(log.count("devices reconfigured"), 0u);
  EXPECT_EQ(log.count("voice processing IO: closed ("), 1u);
  EXPECT_TRUE(log.contains("INFO  voice processing IO: closed (voice processing off; input volume restored 33% → 80%)"));
  EXPECT_EQ(host->inputVolume(mic.id), (std::vector<float>{0.8f, 0.8f}));
  EXPECT_EQ(host->openStreams(mic.id), 0u);
  EXPECT_EQ(host->loadedCancellers(), 0u);
}
