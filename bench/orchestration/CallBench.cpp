// What a whole interpreted call costs, in real time on a private audio server
// (scripts/audio-servers.sh) against the service emulator, run in a process of
// its own (oskel-service-emulator), which plays every chunk back the moment it
// arrives:
//
//   mouth -> ear  per direction: a 20 ms burst played into the user's
//                 microphone (or by the call program into "Oskel Speaker")
//                 to its first loud sample at the other side's recording
//   CPU           this process's CPU per second of call (both pipelines, the
//                 event queue, the network thread, and the small stand-in
//                 call program and user) and the audio server's
//   memory        resident set after 1 minute and at the end, split into
//                 anonymous, file-backed and shared-memory pages (the latter
//                 are the audio server's memblock pools, shared with it), and
//                 how much came with the call (against the moment before it)
//
//   bash scripts/audio-servers.sh run pulseaudio -- build/bench/orchestration/bench_call [seconds]
//   [--echo-cancellation]
//
// The user's microphone and speaker are null sinks tagged as USB devices, so
// the canceller does not skip them as virtual; without --echo-cancellation
// the same devices are used plainly. Voice-over is off, so each ear hears the
// translated burst alone.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/LoopbackDevices.h"
#include "audio/pulse/PulseAudioHost.h"
#include "audio/sim/EchoRoom.h"
#include "common/Clocks.h"
#include "common/OnsetFinder.h"
#include "common/RealtimeLog.h"
#include "common/Statistics.h"
#include "concurrency/SerialQueue.h"
#include "orchestration/Translator.h"
#include "pipeline/TranscriptConsole.h"

namespace {

using namespace oskel;
using namespace oskel::bench;
using Steady = std::chrono::steady_clock;

// A line of /proc/self/status in megabytes ("VmRSS", "RssAnon", ...), or
// the plain number for "Threads".
double status(std::string_view key) {
  std::ifstream file("/proc/self/status");
  for (std::string line; std::getline(file, line);)
    if (line.starts_with(key) && line[key.size()] == ':') {
      const double value = std::atof(line.c_str() + key.size() + 1);
      return key == "Threads" ? value : value / 1024.0;
    }
  return 0.0;
}

struct Memory {
  double resident = status("VmRSS"), anonymous = status("RssAnon"), files = status("RssFile");
  // Pages of the audio server's shared memory pools this process has touched.
  double shared = status("RssShmem");
  double threads = status("Threads");
};

// The service emulator in its own process, so that its memory and CPU stay
// out of the figures.
class EmulatorProcess {
 public:
  bool start() {
    int out[2];
    if (::pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    char program[] = OSKEL_EMULATOR_PATH;
    char port[] = "--port", any[] = "0";
    char* argv[] = {program, port, any, nullptr};
    const int failed = posix_spawn(&pid_, program, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (failed != 0) {
      ::close(out[0]);
      pid_ = 0;
      return false;
    }
    // "listening on ws://... (http://...)"
    std::string line;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') line.push_back(c);
    output_ = out[0];
    const auto open = line.find('('), close = line.find(')');
    if (open == std::string::npos || close == std::string::npos) return false;
    httpOrigin_ = line.substr(open + 1, close - open - 1);
    return true;
  }
  ~EmulatorProcess() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    if (output_ >= 0) ::close(output_);
  }
  const std::string& httpOrigin() const { return httpOrigin_; }

 private:
  pid_t pid_ = 0;
  int output_ = -1;
  std::string httpOrigin_;
};

// The user's microphone and speaker, each a null sink with a source remapped
// over its monitor (the test speaks into the microphone's sink and listens to
// the speaker's source), tagged as USB devices so that the canceller takes
// them for real ones. Unloaded, by index, at the end.
class UserDevices {
 public:
  bool load() { return add("bench_user_mic", "Bench_Mic") && add("bench_user_speaker", "Bench_Speaker"); }
  ~UserDevices() {
    for (auto it = modules_.rbegin(); it != modules_.rend(); ++it) (void)test::pactl("unload-module " + *it);
  }

 private:
  bool add(const std::string& uid, const std::string& name) {
    const auto tagged = [&](const char* kind, const std::string& extra) {
      // Double quotes for the shell, single ones for the module's arguments.
      return std::string("\"") + kind + "_properties='device.description=" + name + " device.bus=usb" + extra + "'\"";
    };
    const std::string layout = " rate=48000 channels=1";
    return load("module-null-sink sink_name=" + uid + " " + tagged("sink", "") + layout) &&
           load("module-remap-source master=" + uid + ".monitor source_name=" + uid + ".source " +
                tagged("source", " device.master_device=" + uid + ".monitor") + layout);
  }
  bool load(const std::string& arguments) {
    auto index = test::pactl("load-module " + arguments);
    if (!index) return false;
    modules_.push_back(index->substr(0, index->find('\n')));
    return true;
  }
  std::vector<std::string> modules_;
};

// Plays a 20 ms burst of 1 kHz every 3 to 3.7 s, starting after `offset`, and
// notes when each began. The intervals are far longer than the latency, so
// that a burst's translation cannot be taken for an earlier one's. The silence
// gate holds open far longer, so the audio in between streams as well: the
// figure includes whatever depth the playout buffer has settled at.
struct Mouth {
  static constexpr std::array intervals{3.0, 3.4, 3.2, 3.7};
  static constexpr double shortestInterval = 3.0;
  Mouth(double sampleRate, double offsetSeconds)
      : rate(sampleRate), next(static_cast<int64_t>(offsetSeconds * sampleRate)) {}
  void render(std::span<float> frames) {
    const auto burst = static_cast<int64_t>(rate * 0.02);
    for (auto& sample : frames) {
      if (position == next) started.add(nowSeconds());
      const bool on = position >= next && position - next < burst;
      sample = on ? 0.5f * static_cast<float>(
                               std::sin(2.0 * std::numbers::pi * 1000.0 * static_cast<double>(position - next) / rate))
                  : 0.0f;
      if (position - next >= burst) next += period();
      ++position;
    }
  }
  int64_t period() { return static_cast<int64_t>(rate * intervals[bursts++ % intervals.size()]); }
  double rate;
  int64_t next;
  int64_t position = 0;
  size_t bursts = 0;
  RealtimeLog<double> started;
};

// Notes when a loud stretch begins after at least 0.3 s of quiet.
struct Ear {
  explicit Ear(double rate) : finder(rate, 0.05f, 0.3) {}
  void hear(std::span<const float> frames) {
    const double now = nowSeconds();
    finder.scan(frames, [&](size_t) { heard.add(now); });
  }
  OnsetFinder finder;
  RealtimeLog<double> heard;
};

// Median of each burst's first arrival before the next burst.
double medianLatencyMs(const Mouth& mouth, const Ear& ear) {
  const auto latencies = delaysMs(mouth.started.all(), ear.heard.all(), Mouth::shortestInterval);
  return latencies.empty() ? std::nan("") : median(latencies);
}

int fail(const std::string& why) {
  std::fprintf(stderr, "bench_call: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 60.0;
  bool echoCancellation = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (argument == "--echo-cancellation")
      echoCancellation = true;
    else
      seconds = std::atof(argv[i]);
  }
  if (!std::getenv("PULSE_SERVER")) return fail("run through scripts/audio-servers.sh");
  auto connected = PulseAudioHost::connect();
  if (!connected) return fail(connected.error().description());
  std::shared_ptr<PulseAudioHost> host = *connected;
  if (!LoopbackDevices::install(*host)) return fail("could not install the loopback devices");
  UserDevices userDevices;
  if (!userDevices.load()) return fail("could not load the user's devices");
  EmulatorProcess emulator;
  if (!emulator.start()) return fail("could not start " OSKEL_EMULATOR_PATH);
  setenv("OSKEL_OPENAI_API", emulator.httpOrigin().c_str(), 1);
  TranscriptConsole::shared().enabled = false;

  using Direction = AudioDevices::Direction;
  std::string missing;
  auto device = [&](std::string_view uid, Direction direction) {
    // PipeWire creates a module's nodes a moment after the load.
    for (int tries = 0; tries < 100; ++tries) {
      if (auto found = AudioDevices::find(*host, uid, direction)) return *found;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    missing = uid;
    return AudioDeviceInfo{};
  };
  auto theyPlay = AudioPlayback::make(host, device(AudioDevices::oskelSpeakerUID, Direction::output));
  auto theyHear = AudioCapture::make(host, device(AudioDevices::oskelMicrophoneUID, Direction::input));
  auto userSays = AudioPlayback::make(host, device("bench_user_mic", Direction::output));
  auto userHears = AudioCapture::make(host, device("bench_user_speaker", Direction::input));
  if (!missing.empty()) return fail("no device " + missing);
  if (!theyPlay || !theyHear || !userSays || !userHears) return fail("could not open the call program's streams");
  Mouth userMouth((*userSays)->sampleRate(), 0.25), theirMouth((*theyPlay)->sampleRate(), 1.75);
  Ear atThem((*theyHear)->sampleRate()), atUser((*userHears)->sampleRate());
  (*userSays)->setRender([&](std::span<float> frames) { userMouth.render(frames); });
  (*theyPlay)->setRender([&](std::span<float> frames) { theirMouth.render(frames); });
  (*theyHear)->setOnFrames([&](std::span<const float> frames) { atThem.hear(frames); });
  (*userHears)->setOnFrames([&](std::span<const float> frames) { atUser.hear(frames); });
  if (!(*theyHear)->start() || !(*userHears)->start()) return fail("could not start the call program");

  TranslatorConfig config(TranslationCredential::openai("sk-bench"), "en", "es");
  config.microphone = device("bench_user_mic", Direction::input);
  config.speaker = device("bench_user_speaker", Direction::output);
  config.echoCancellation = echoCancellation;
  // Without voice-over the ear hears the translation only, not the original
  // burst mixed under it. The silence gate keeps its default, as for a user.
  auto events = std::make_shared<SerialQueue>("bench.events");
  OrchestratorEnvironment environment;
  environment.host = host;
  environment.eventQueue = [events](std::function<void()> task) { events->post(std::move(task)); };
  const Memory beforeCall;
  auto made = Translator::make(config, environment);
  if (!made) return fail(made.error().description());
  auto call = *made;
  if (!call->start()) return fail("could not start the call");
  waitUntil([&] { return call->state() == TranslatorState{TranslatorStates::Live{}}; }, 5.0);
  if (!(*theyPlay)->start() || !(*userSays)->start()) return fail("could not start the call program");

  const auto began = Steady::now();
  const double cpuBefore = processCPU(), serverBefore = serverCPU();
  std::optional<Memory> atMinute;
  while (Steady::now() - began < std::chrono::duration<double>(seconds)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (!atMinute && Steady::now() - began >= std::chrono::seconds(60)) atMinute.emplace();
  }
  const double elapsed = std::chrono::duration<double>(Steady::now() - began).count();
  const double cpu = processCPU() - cpuBefore, serverUse = serverCPU() - serverBefore;
  const Memory atEnd;
  (*theyPlay)->stop();
  (*userSays)->stop();
  auto stopped = std::make_shared<std::atomic<bool>>(false);
  call->stop(true, [stopped] { *stopped = true; });
  waitUntil([&] { return stopped->load(); }, 2.0);
  (*theyHear)->stop();
  (*userHears)->stop();
  (void)LoopbackDevices::remove(*host);

  std::printf("call of %.0f s on %s, echo cancellation %s\n", elapsed,
              std::getenv("OSKEL_AUDIO_SERVER") ? std::getenv("OSKEL_AUDIO_SERVER") : "the audio server",
              call->echoCancellationActive() ? "on" : "off");
  std::printf("mouth -> ear, user to them:  %.0f ms (median of %zu bursts)\n", medianLatencyMs(userMouth, atThem),
              userMouth.started.size());
  std::printf("mouth -> ear, them to user:  %.0f ms (median of %zu bursts)\n", medianLatencyMs(theirMouth, atUser),
              theirMouth.started.size());
  std::printf("CPU per second of call:      %.2f %% of one core (audio server: %.2f %%)\n", 100.0 * cpu / elapsed,
              100.0 * serverUse / elapsed);
  const auto memory = [&](const char* when, const Memory& m) {
    std::printf(
        "resident %-15s %.1f MB (anonymous %.1f, files %.1f, shared memory %.1f; the call's share %.1f), %.0f threads\n",
        when, m.resident, m.anonymous, m.files, m.shared, m.resident - beforeCall.resident, m.threads);
  };
  memory("before the call", beforeCall);
  if (atMinute) memory("after 1 min", *atMinute);
  memory("at the end", atEnd);
  return 0;
}
