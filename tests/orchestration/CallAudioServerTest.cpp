// A whole interpreted call on a real audio server (a private one started by
// scripts/audio-servers.sh) against the service emulator, which plays every
// utterance back untranslated. The call program is played by the test: it
// plays the other party (440 Hz) into "Oskel Speaker" and records "Oskel
// Microphone"; the user's microphone is fed 660 Hz and the user's speaker is
// recorded. Each side must hear the other.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <thread>

#include "RecordingTestSupport.h"
#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/LoopbackDevices.h"
#include "audio/ToneAnalysis.h"
#include "audio/pulse/PulseAudioHost.h"
#include "concurrency/SerialQueue.h"
#include "emulator/ServiceEmulator.h"
#include "network/NetworkProbe.h"
#include "orchestration/Translator.h"
#include "pipeline/TranscriptConsole.h"
#include "support/Eventually.h"

namespace oskel::test {
namespace {

using namespace std::chrono_literals;

// The level of one frequency in a block (Goertzel), as an amplitude.
double levelAt(std::span<const float> samples, double hz, double rate) {
  const double coefficient = 2.0 * std::cos(2.0 * std::numbers::pi * hz / rate);
  double previous = 0.0, beforePrevious = 0.0;
  for (float sample : samples) {
    const double current = static_cast<double>(sample) + coefficient * previous - beforePrevious;
    beforePrevious = previous;
    previous = current;
  }
  const double power = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(std::max<size_t>(samples.size(), 1));
}

// What one recording endpoint hears: frames above -20 dBFS, and the last
// loud second for a frequency check.
struct Listener {
  explicit Listener(double rate) : ring(static_cast<int64_t>(rate)) {}
  void hear(std::span<const float> frames) {
    ring.write(frames);
    for (float s : frames)
      if (std::abs(s) > 0.1f) loud.fetch_add(1, std::memory_order_relaxed);
  }
  FloatRingBuffer ring;
  std::atomic<int64_t> loud{0};
};

TEST(CallOnAudioServer, BothSidesHearEachOtherAndTheRecordingKeepsThemApart) {
  if (!std::getenv("PULSE_SERVER"))
    GTEST_SKIP() << "needs a private audio server: scripts/audio-servers.sh run pulseaudio -- ctest -L audio-server";
  auto connected = PulseAudioHost::connect();
  ASSERT_TRUE(connected) << connected.error().description();
  std::shared_ptr<PulseAudioHost> host = *connected;
  const LoopbackDeviceSpec userMic{"test_user_mic", "User Mic"};
  const LoopbackDeviceSpec userSpeaker{"test_user_speaker", "User Speaker"};
  ASSERT_TRUE(LoopbackDevices::install(*host));
  ASSERT_TRUE(host->installLoopbackDevice(userMic));
  ASSERT_TRUE(host->installLoopbackDevice(userSpeaker));
  struct Cleanup {
    PulseAudioHost& host;
    ~Cleanup() {
      (void)LoopbackDevices::remove(host);
      (void)host.removeLoopbackDevice("test_user_mic");
      (void)host.removeLoopbackDevice("test_user_speaker");
    }
  } cleanup{*host};
  const auto defaultInput = host->defaultDevice(AudioScope::input);
  const auto defaultOutput = host->defaultDevice(AudioScope::output);

  auto emulator = emulator::ServiceEmulator::start();
  ASSERT_TRUE(emulator) << emulator.error();
  ScopedEnvironment origin("OSKEL_OPENAI_API", (*emulator)->httpOrigin());
  TranscriptConsole quiet([](std::string_view) {});

  using Direction = AudioDevices::Direction;
  auto find = [&](std::string_view query, Direction direction) {
    auto found = AudioDevices::find(*host, query, direction);
    EXPECT_TRUE(found) << query;
    return found.value_or(AudioDeviceInfo{});
  };
  // The call program's side and the user's side.
  auto theyPlay = std::move(*AudioPlayback::make(host, find(AudioDevices::oskelSpeakerUID, Direction::output)));
  auto theyHear = std::move(*AudioCapture::make(host, find(AudioDevices::oskelMicrophoneUID, Direction::input)));
  auto userSays = std::move(*AudioPlayback::make(host, find("test_user_mic", Direction::output)));
  auto userHears = std::move(*AudioCapture::make(host, find("test_user_speaker", Direction::input)));
  Tone them(440.0, theyPlay->sampleRate(), 0.3f);
  Tone user(660.0, userSays->sampleRate(), 0.3f);
  theyPlay->setRender([&](std::span<float> frames) { them.render(frames); });
  userSays->setRender([&](std::span<float> frames) { user.render(frames); });
  Listener atThem(theyHear->sampleRate());
  Listener atUser(userHears->sampleRate());
  theyHear->setOnFrames([&](std::span<const float> frames) { atThem.hear(frames); });
  userHears->setOnFrames([&](std::span<const float> frames) { atUser.hear(frames); });

  TranslatorConfig config(TranslationCredential::openai("sk-test"), "en", "es");
  config.microphone = find("test_user_mic", Direction::input);
  config.speaker = find("test_user_speaker", Direction::output);
  auto events = std::make_shared<SerialQueue>("test.events");
  OrchestratorEnvironment environment;
  environment.host = host;
  environment.eventQueue = [events](std::function<void()> task) { events->post(std::move(task)); };
  environment.console = &quiet;
  auto made = Translator::make(config, environment);
  ASSERT_TRUE(made) << made.error().description();
  auto call = *made;
  std::mutex mutex;
  std::vector<std::string> states;
  std::set<CallDirection> captioned;
  call->setOnEvent([&](const TranslatorEvent& event) {
    std::lock_guard guard(mutex);
    if (const auto* change = std::get_if<TranslatorEvents::State>(&event)) states.push_back(describe(change->state));
    if (const auto* transcript = std::get_if<TranslatorEvents::Transcript>(&event))
      captioned.insert(transcript->fragment.direction);
  });

  ASSERT_TRUE(theyHear->start() && userHears->start());
  ASSERT_TRUE(call->start());
  ASSERT_TRUE(eventually([&] { return call->state() == TranslatorState{TranslatorStates::Live{}}; }));
  const auto file = std::filesystem::temp_directory_path() / "oskel-call-on-server.wav";
  ASSERT_TRUE(call->startRecording(file));
  ASSERT_TRUE(theyPlay->start() && userSays->start());

  // A second of each side's voice came through the service to the other side.
  EXPECT_TRUE(eventually([&] { return atThem.loud.load() > 48000 && atUser.loud.load() > 48000; }))
      << "at them " << atThem.loud.load() << ", at user " << atUser.loud.load();
  // Measured while both still speak, on the newest quarter second: each side
  // hears the other's voice, well above its own.
  auto heard = [](Listener& listener, double rate, double voice, double own) {
    auto samples = listener.ring.drain(listener.ring.available());
    const auto window = std::span<const float>(samples).last(std::min(samples.size(), static_cast<size_t>(rate / 4)));
    const double wanted = levelAt(window, voice, rate), unwanted = levelAt(window, own, rate);
    EXPECT_GT(wanted, 0.1) << voice << " Hz";
    EXPECT_GT(decibels(wanted) - decibels(unwanted), 20.0) << voice << " Hz against " << own << " Hz";
  };
  heard(atThem, theyHear->sampleRate(), 660.0, 440.0);  // the user, translated for them
  heard(atUser, userHears->sampleRate(), 440.0, 660.0);  // them, translated for the user
  const auto recorded = call->stopRecording();
  theyPlay->stop();
  userSays->stop();
  std::atomic<bool> stopped{false};
  call->stop(false, [&] { stopped = true; });
  ASSERT_TRUE(eventually([&] { return stopped.load(); }));
  theyHear->stop();
  userHears->stop();
  {
    std::lock_guard guard(mutex);
    EXPECT_EQ(states, (std::vector<std::string>{"starting", "connecting", "live", "stopping", "idle"}));
    EXPECT_EQ(captioned, (std::set<CallDirection>{CallDirection::outgoing, CallDirection::incoming}));
  }
  ASSERT_TRUE(recorded);
  const auto stereo = readStereo(file);
  std::filesystem::remove(file);
  ASSERT_GT(stereo.left.size(), 48000u);
  // Half a second before the end, away from the padding of the last flush.
  auto channel = [](const std::vector<int16_t>& samples, double voice, double own) {
    std::vector<float> floats;
    for (auto s : std::span(samples).last(36000).first(12000)) floats.push_back(static_cast<float>(s) / 32768.0f);
    return decibels(levelAt(floats, voice, 48000.0)) - decibels(levelAt(floats, own, 48000.0));
  };
  EXPECT_GT(channel(stereo.left, 660.0, 440.0), 20.0);   // what the other party heard
  EXPECT_GT(channel(stereo.right, 440.0, 660.0), 20.0);  // what the user heard
  EXPECT_EQ(host->defaultDevice(AudioScope::input), defaultInput);
  EXPECT_EQ(host->defaultDevice(AudioScope::output), defaultOutput);
}

}  // namespace
}  // namespace oskel::test
