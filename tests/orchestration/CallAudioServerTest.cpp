// A whole interpreted call on a real audio server (a private one started by
// scripts/audio-servers.sh) against the service emulator, which plays every
// utterance back untranslated. The call program is played by the test: it
// plays the other party (440 Hz) into "Oskel Speaker" and records "Oskel
// Microphone"; the user's microphone is fed 660 Hz and the user's speaker is
// recorded. Each side must hear the other. The in-person and playground
// commands run as the user runs them: the `oskel` program on a pseudo-terminal.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <numbers>
#include <thread>

#include "RecordingTestSupport.h"
#include <fmt/format.h>

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

// On the private audio server; the loopback devices a test installs go again.
class CallOnAudioServer : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::getenv("PULSE_SERVER"))
      GTEST_SKIP() << "needs a private audio server: scripts/audio-servers.sh run pulseaudio -- ctest -L audio-server";
    auto connected = PulseAudioHost::connect();
    ASSERT_TRUE(connected) << connected.error().description();
    host = *connected;
  }
  void TearDown() override {
    if (!host) return;
    (void)LoopbackDevices::remove(*host);
    (void)host->removeLoopbackDevice("test_user_mic");
    (void)host->removeLoopbackDevice("test_user_speaker");
  }

  std::shared_ptr<PulseAudioHost> host;
};

TEST_F(CallOnAudioServer, BothSidesHearEachOtherAndTheRecordingKeepsThemApart) {
  ASSERT_TRUE(LoopbackDevices::install(*host));
  ASSERT_TRUE(host->installLoopbackDevice({"test_user_mic", "User Mic"}));
  ASSERT_TRUE(host->installLoopbackDevice({"test_user_speaker", "User Speaker"}));
  const auto defaultInput = host->defaultDevice(AudioScope::input);
  const auto defaultOutput = host->defaultDevice(AudioScope::output);

  auto emulator = startEmulator();
  ScopedEnvironment origin("OSKEL_OPENAI_API", emulator->httpOrigin());
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
  const test::TempFolder folder;  // a fixed name would collide with another checkout's run
  const auto file = folder / "call.wav";
  ASSERT_TRUE(call->startRecording(file));
  EXPECT_TRUE(call->isRecording());
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
  EXPECT_FALSE(call->isRecording());
  const auto stereo = readStereo(file);
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

// The `oskel` program on a pseudo-terminal of its own, against the emulator.
class Terminal {
 public:
  // With the user's own key for the emulator at `origin`, or with
  // `environment` ("NAME=value" lines) choosing the service instead; none of
  // the test's own service settings leak through.
  Terminal(std::vector<std::string> arguments, const std::string& origin, const std::string& key,
           std::vector<std::string> environment = {}) {
    arguments.insert(arguments.begin(), OSKEL_PROGRAM);
    if (environment.empty()) environment = {"OSKEL_OPENAI_API=" + origin, "OPENAI_API_KEY=" + key};
    for (char** variable = environ; *variable; ++variable) {
      const std::string_view entry = *variable;
      if (!entry.starts_with("OPENAI_API_KEY=") && !entry.starts_with("OSKEL_")) environment.emplace_back(entry);
    }
    // Built before the fork: the child only calls execve.
    const auto pointers = [](std::vector<std::string>& strings) {
      std::vector<char*> list;
      for (auto& string : strings) list.push_back(string.data());
      list.push_back(nullptr);
      return list;
    };
    auto argv = pointers(arguments), envp = pointers(environment);
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) {
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
  }
  ~Terminal() {
    if (pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  // Reads until the output shows `text` past what earlier calls consumed, or
  // anywhere (consuming nothing) for lines whose order is free.
  bool shows(std::string_view text, bool anywhere = false) {
    return eventually([&] {
      pollfd fd{master_, POLLIN, 0};
      char buffer[512];
      if (poll(&fd, 1, 20) > 0) {
        const auto n = read(master_, buffer, sizeof buffer);
        if (n > 0) output_.append(buffer, static_cast<size_t>(n));
      }
      const auto at = output_.find(text, anywhere ? 0 : consumed_);
      if (at == std::string::npos) return false;
      if (!anywhere) consumed_ = at + text.size();
      return true;
    }) || (ADD_FAILURE() << "no \"" << text << "\" in:\n" << output_, false);
  }
  void type(std::string_view keys) { ASSERT_EQ(write(master_, keys.data(), keys.size()), std::ssize(keys)); }
  // Whether the terminal reads lines and echoes them, as a shell leaves it.
  bool cooked() const {
    termios modes{};
    tcgetattr(master_, &modes);
    return (modes.c_lflag & ICANON) && (modes.c_lflag & ECHO);
  }
  int exitStatus() {
    int status = -1;
    if (!eventually([&] { return waitpid(pid_, &status, WNOHANG) == pid_; })) return -1;
    pid_ = 0;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  const std::string& output() const { return output_; }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  std::string output_;
  size_t consumed_ = 0;
};

// Commands refuse unknown languages and missing loopback devices; a call ends on Ctrl-C.
TEST_F(CallOnAudioServer, CommandsRefuseWhatTheyCannotDoAndInPersonPassesTheTurnAndAlwaysRestoresTheTerminal) {
  emulator::ServiceEmulator::Config config;
  config.acceptedKeys = {"sk-good"};
  config.acceptedTokens = {"good"};
  auto emulator = startEmulator(config);
  const auto file = std::filesystem::temp_directory_path() / fmt::format("oskel-call-cli-{}.wav", getpid());
  const std::vector<std::string> call{"call", "--me", "en", "--them", "es", "--record", file.string()};
  {
    Terminal missing(call, emulator->httpOrigin(), "sk-good");
    EXPECT_TRUE(missing.shows("Add them with: oskel devices --install-loopback"));
    EXPECT_EQ(missing.exitStatus(), 1);
    Terminal unknown({"in-person", "--me", "en", "--them", "xx"}, emulator->httpOrigin(), "sk-good");
    EXPECT_TRUE(unknown.shows("the service does not translate into \"xx\"; choose one of "));
    EXPECT_EQ(unknown.exitStatus(), 2);
  }
  ASSERT_TRUE(LoopbackDevices::install(*host));
  Terminal calling(call, emulator->httpOrigin(), "sk-good");
  ASSERT_TRUE(calling.shows("-- live"));
  EXPECT_TRUE(calling.shows("recording to " + file.string(), true));
  calling.type("\x03");
  EXPECT_TRUE(calling.shows("-- idle"));
  EXPECT_EQ(calling.exitStatus(), 130);
  EXPECT_TRUE(calling.shows("Recorded "));
  EXPECT_TRUE(std::filesystem::remove(file));

  {
    Terminal terminal({"in-person", "--me", "en", "--them", "es"}, emulator->httpOrigin(), "sk-good");
    ASSERT_TRUE(terminal.shows("-- live"));
    ASSERT_TRUE(terminal.shows("-- turn: you speaks en", true));
    EXPECT_FALSE(terminal.cooked());
    terminal.type("x ");  // other keys do nothing
    EXPECT_TRUE(terminal.shows("-- turn: they speaks es"));
    terminal.type("\r");
    EXPECT_TRUE(terminal.shows("-- turn: you speaks en"));
    terminal.type("\x03");  // Ctrl-C, through the terminal
    EXPECT_TRUE(terminal.shows("-- idle"));
    EXPECT_EQ(terminal.exitStatus(), 130);
    EXPECT_TRUE(terminal.shows("you spoke "));
    EXPECT_TRUE(terminal.cooked());
  }
  // Failing mid-run, after the keys were taken over.
  Terminal rejected({"in-person", "--me", "en", "--them", "es"}, emulator->httpOrigin(), "sk-bad");
  EXPECT_TRUE(rejected.shows("OpenAI rejected the API key"));
  EXPECT_EQ(rejected.exitStatus(), 1);
  EXPECT_TRUE(rejected.cooked());
  // Signed out by the relay: the conversation ends by itself, and so does the command.
  const auto origin = emulator->httpOrigin();
  Terminal signedOut({"in-person", "--me", "en", "--them", "es"}, {}, {}, {"OSKEL_API=" + origin, "OSKEL_TOKEN=bad"});
  EXPECT_TRUE(signedOut.shows("-- the relay signed you out"));
  EXPECT_TRUE(signedOut.shows("-- idle"));
  EXPECT_EQ(signedOut.exitStatus(), 1);
  EXPECT_TRUE(signedOut.cooked());
}

TEST_F(CallOnAudioServer, PlaygroundPlaysTheUsersOwnSpeechBackTranslated) {
  auto emulator = startEmulator();
  // The user speaks into the default microphone (the server's test device,
  // whose input records what is played to it).
  const auto microphone = AudioDevices::find(*host, "test_duplex", AudioDevices::Direction::output);
  ASSERT_TRUE(microphone);
  auto mouth = std::move(*AudioPlayback::make(host, *microphone));
  Tone voice(440.0, mouth->sampleRate(), 0.3f);
  mouth->setRender([&](std::span<float> frames) { voice.render(frames); });

  Terminal terminal({"playground", "--me", "en", "--them", "es"}, emulator->httpOrigin(), "sk-test");
  ASSERT_TRUE(terminal.shows("-- live"));
  ASSERT_TRUE(terminal.shows("Say something: you will hear it in es", true));
  ASSERT_TRUE(mouth->start());
  EXPECT_TRUE(eventually([&] { return emulator->snapshot().totalAudioBytes() > 48000; }));
  mouth->stop();
  terminal.type("\x03\x03");  // twice: stop at once
  const int status = terminal.exitStatus();
  EXPECT_TRUE(terminal.shows("you spoke "));
  EXPECT_EQ(status, 130) << terminal.output();
  EXPECT_EQ(terminal.output().find("you spoke 0.0s"), std::string::npos) << terminal.output();
  EXPECT_EQ(terminal.output().find(" 0.0s translated"), std::string::npos) << terminal.output();
}

}  // namespace
}  // namespace oskel::test
