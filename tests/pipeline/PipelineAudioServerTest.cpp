// One direction of a call on a real audio server (a private one started by
// scripts/audio-servers.sh) and the service emulator: what a call program
// plays into "Oskel Speaker" is captured by the pipeline, echoed by the
// emulator, and played into "Oskel Microphone", where the call program
// records it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/LoopbackDevices.h"
#include "audio/ToneAnalysis.h"
#include "audio/pulse/PulseAudioHost.h"
#include "dsp/FloatRingBuffer.h"
#include "emulator/ServiceEmulator.h"
#include "network/NetworkProbe.h"
#include "pipeline/TranscriptConsole.h"
#include "pipeline/TranslationPipeline.h"
#include "support/Eventually.h"

namespace oskel::test {
namespace {

using namespace std::chrono_literals;

TEST(PipelineOnAudioServer, ACallersToneComesBackThroughTheLoopbackDevices) {
  if (!std::getenv("PULSE_SERVER"))
    GTEST_SKIP() << "needs a private audio server: scripts/audio-servers.sh run pulseaudio -- ctest -L audio-server";
  auto connected = PulseAudioHost::connect();
  ASSERT_TRUE(connected) << connected.error().description();
  std::shared_ptr<PulseAudioHost> host = *connected;
  ASSERT_TRUE(LoopbackDevices::install(*host));
  struct Cleanup {
    PulseAudioHost& host;
    ~Cleanup() { (void)LoopbackDevices::remove(host); }
  } cleanup{*host};

  auto started = emulator::ServiceEmulator::start();
  ASSERT_TRUE(started) << started.error();
  ScopedEnvironment origin("OSKEL_OPENAI_API", (*started)->httpOrigin());
  TranscriptConsole::shared().enabled = false;

  const auto speaker = AudioDevices::find(*host, AudioDevices::oskelSpeakerUID, AudioDevices::Direction::any);
  const auto microphone = AudioDevices::find(*host, AudioDevices::oskelMicrophoneUID, AudioDevices::Direction::any);
  ASSERT_TRUE(speaker && microphone);

  // The call program: plays a tone into Oskel Speaker, records Oskel Microphone.
  auto callPlays = AudioPlayback::make(host, *speaker);
  auto callRecords = AudioCapture::make(host, *microphone);
  ASSERT_TRUE(callPlays && callRecords);
  Tone tone(440.0, (*callPlays)->sampleRate(), 0.3f);
  (*callPlays)->setRender([&tone](std::span<float> frames) { tone.render(frames); });
  const double recordRate = (*callRecords)->sampleRate();
  FloatRingBuffer recorded(static_cast<int64_t>(recordRate * 20));
  std::atomic<int64_t> loudFrames{0};
  (*callRecords)->setOnFrames([&](std::span<const float> frames) {
    recorded.write(frames);
    for (float s : frames)
      if (std::abs(s) > 0.1f) loudFrames.fetch_add(1, std::memory_order_relaxed);
  });

  // The engine: Oskel Speaker's input -> emulator -> Oskel Microphone's output.
  auto capture = AudioCapture::make(host, *speaker);
  auto playback = AudioPlayback::make(host, *microphone);
  ASSERT_TRUE(capture && playback);
  PipelineConfig config("en→es", std::move(*capture), std::move(*playback), TranslationOptions("es"),
                        TranslationCredential::openai("sk-test"));
  auto pipeline = TranslationPipeline::make(std::move(config));
  std::atomic<bool> ready{false};
  pipeline->setOnEvent([&](const PipelineEvent& event) {
    if (std::holds_alternative<PipelineEvents::Ready>(event)) ready = true;
  });

  ASSERT_TRUE((*callRecords)->start());
  ASSERT_TRUE(pipeline->start());
  ASSERT_TRUE(eventually([&] { return ready.load(); }));
  ASSERT_TRUE((*callPlays)->start());

  // A second of the tone has come back through the service.
  EXPECT_TRUE(eventually([&] { return loudFrames.load() > static_cast<int64_t>(recordRate); }))
      << "sent " << pipeline->framesSent() << ", received " << pipeline->framesReceived();
  (*callPlays)->stop();
  std::atomic<bool> stopped{false};
  pipeline->stop(4.0, [&] { stopped = true; });
  ASSERT_TRUE(eventually([&] { return stopped.load(); }));
  (*callRecords)->stop();

  auto samples = recorded.drain(recorded.available());
  // The loudest half second is the echoed tone, at its frequency and level.
  size_t first = 0;
  while (first < samples.size() && std::abs(samples[first]) < 0.1f) ++first;
  const auto half = static_cast<size_t>(recordRate / 2);
  ASSERT_GT(samples.size(), first + half + half / 5);
  const std::span<const float> echoed(samples.data() + first + half / 5, half);
  EXPECT_NEAR(frequency(echoed, recordRate), 440.0, 2.0);
  EXPECT_NEAR(decibels(rms(echoed)), decibels(0.3 / std::sqrt(2.0)), 1.0);
}

}  // namespace
}  // namespace oskel::test
