// What a whole interpreted call costs, in real time on a private audio server
// (scripts/audio-servers.sh) against the service emulator, which plays every
// chunk back the moment it arrives:
//
//   mouth -> ear  per direction: a 20 ms burst played into the user's
//                 microphone (or by the call program into "Oskel Speaker")
//                 to its first loud sample at the other side's recording
//   CPU           this process's CPU per second of call (both pipelines, the
//                 event queue, the network thread and the in-process emulator)
//   memory        resident set after 1 minute and at the end
//
//   bash scripts/audio-servers.sh run pulseaudio -- build/bench/orchestration/bench_call [seconds]
//
// The user's devices are loopback devices of the server, which the canceller
// skips as virtual: the figures are without echo cancellation. Voice-over is
// off, so each ear hears the translated burst alone.
#include <algorithm>
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

#include "../audio/ServerStats.h"
#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/LoopbackDevices.h"
#include "audio/pulse/PulseAudioHost.h"
#include "concurrency/SerialQueue.h"
#include "emulator/ServiceEmulator.h"
#include "orchestration/Translator.h"
#include "pipeline/TranscriptConsole.h"

namespace {

using namespace oskel;
using Steady = std::chrono::steady_clock;

double residentMB() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);)
    if (line.starts_with("VmRSS:")) return std::atof(line.c_str() + 6) / 1024.0;
  return 0.0;
}

// Times noted on an audio thread: room for a long run is reserved up front,
// so noting neither allocates nor locks. Read once the streams have stopped.
struct Moments {
  Moments() : times(4096) {}
  void note(Steady::time_point at) {
    const auto n = count.load(std::memory_order_relaxed);
    if (n < times.size()) {
      times[n] = at;
      count.store(n + 1, std::memory_order_release);
    }
  }
  std::vector<Steady::time_point> all() const {
    return {times.begin(), times.begin() + static_cast<std::ptrdiff_t>(count.load(std::memory_order_acquire))};
  }
  std::vector<Steady::time_point> times;
  std::atomic<size_t> count{0};
};

// Plays a 20 ms burst of 1 kHz every `period`, starting after `offset`, and
// notes when each began.
struct Mouth {
  Mouth(double sampleRate, double offsetSeconds)
      : rate(sampleRate), next(static_cast<int64_t>(offsetSeconds * sampleRate)) {}
  void render(std::span<float> frames) {
    const auto burst = static_cast<int64_t>(rate * 0.02);
    for (auto& sample : frames) {
      if (position == next) started.note(Steady::now());
      const bool on = position >= next && position - next < burst;
      sample = on ? 0.5f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 1000.0 *
                                                        static_cast<double>(position - next) / rate))
                  : 0.0f;
      if (position - next >= burst) next += period();
      ++position;
    }
  }
  int64_t period() const { return static_cast<int64_t>(rate); }
  double rate;
  int64_t next;
  int64_t position = 0;
  Moments started;
};

// Notes when a loud stretch begins after at least 0.3 s of quiet.
struct Ear {
  explicit Ear(double rate) : quietNeeded(static_cast<int64_t>(rate * 0.3)) {}
  void hear(std::span<const float> frames) {
    for (float sample : frames) {
      if (std::abs(sample) > 0.05f) {
        if (quiet >= quietNeeded) heard.note(Steady::now());
        quiet = 0;
      } else {
        ++quiet;
      }
    }
  }
  int64_t quietNeeded;
  int64_t quiet = 0;
  Moments heard;
};

// Median of each burst's first arrival within 0.9 s.
double medianLatencyMs(const Mouth& mouth, const Ear& ear) {
  const auto heard = ear.heard.all();
  std::vector<double> latencies;
  for (auto start : mouth.started.all()) {
    auto it = std::lower_bound(heard.begin(), heard.end(), start);
    if (it != heard.end() && *it - start < std::chrono::milliseconds(900))
      latencies.push_back(std::chrono::duration<double, std::milli>(*it - start).count());
  }
  if (latencies.empty()) return NAN;
  std::nth_element(latencies.begin(), latencies.begin() + static_cast<std::ptrdiff_t>(latencies.size() / 2),
                   latencies.end());
  return latencies[latencies.size() / 2];
}

int fail(const std::string& why) {
  std::fprintf(stderr, "bench_call: %s\n", why.c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60.0;
  if (!std::getenv("PULSE_SERVER")) return fail("run through scripts/audio-servers.sh");
  auto connected = PulseAudioHost::connect();
  if (!connected) return fail(connected.error().description());
  std::shared_ptr<PulseAudioHost> host = *connected;
  if (!LoopbackDevices::install(*host)) return fail("could not install the loopback devices");
  (void)host->installLoopbackDevice({"bench_user_mic", "Bench Mic"});
  (void)host->installLoopbackDevice({"bench_user_speaker", "Bench Speaker"});
  auto emulator = emulator::ServiceEmulator::start();
  if (!emulator) return fail(emulator.error());
  setenv("OSKEL_OPENAI_API", (*emulator)->httpOrigin().c_str(), 1);
  TranscriptConsole::shared().enabled = false;

  using Direction = AudioDevices::Direction;
  auto device = [&](std::string_view uid, Direction direction) { return *AudioDevices::find(*host, uid, direction); };
  auto theyPlay = std::move(*AudioPlayback::make(host, device(AudioDevices::oskelSpeakerUID, Direction::output)));
  auto theyHear = std::move(*AudioCapture::make(host, device(AudioDevices::oskelMicrophoneUID, Direction::input)));
  auto userSays = std::move(*AudioPlayback::make(host, device("bench_user_mic", Direction::output)));
  auto userHears = std::move(*AudioCapture::make(host, device("bench_user_speaker", Direction::input)));
  Mouth userMouth(userSays->sampleRate(), 0.25), theirMouth(theyPlay->sampleRate(), 0.75);
  Ear atThem(theyHear->sampleRate()), atUser(userHears->sampleRate());
  userSays->setRender([&](std::span<float> frames) { userMouth.render(frames); });
  theyPlay->setRender([&](std::span<float> frames) { theirMouth.render(frames); });
  theyHear->setOnFrames([&](std::span<const float> frames) { atThem.hear(frames); });
  userHears->setOnFrames([&](std::span<const float> frames) { atUser.hear(frames); });

  TranslatorConfig config(TranslationCredential::openai("sk-bench"), "en", "es");
  config.microphone = device("bench_user_mic", Direction::input);
  config.speaker = device("bench_user_speaker", Direction::output);
  // Without voice-over the ear hears the translation only, not the original
  // burst mixed under it.
  config.silenceGate = false;  // the bursts are a second apart: keep every chunk flowing
  auto events = std::make_shared<SerialQueue>("bench.events");
  OrchestratorEnvironment environment;
  environment.host = host;
  environment.eventQueue = [events](std::function<void()> task) { events->post(std::move(task)); };
  auto made = Translator::make(config, environment);
  if (!made) return fail(made.error().description());
  auto call = *made;
  if (!theyHear->start() || !userHears->start() || !call->start()) return fail("could not start");
  for (int i = 0; i < 500 && call->state() != TranslatorState{TranslatorStates::Live{}}; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  if (!theyPlay->start() || !userSays->start()) return fail("could not start the call program");

  const auto began = Steady::now();
  const double cpuBefore = bench::processCPU();
  double rssAtMinute = 0.0;
  while (Steady::now() - began < std::chrono::duration<double>(seconds)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    if (rssAtMinute == 0.0 && Steady::now() - began >= std::chrono::seconds(60)) rssAtMinute = residentMB();
  }
  const double elapsed = std::chrono::duration<double>(Steady::now() - began).count();
  const double cpu = bench::processCPU() - cpuBefore;
  const double rssEnd = residentMB();
  theyPlay->stop();
  userSays->stop();
  std::atomic<bool> stopped{false};
  call->stop(true, [&] { stopped = true; });
  for (int i = 0; i < 200 && !stopped; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  theyHear->stop();
  userHears->stop();
  (void)LoopbackDevices::remove(*host);
  (void)host->removeLoopbackDevice("bench_user_mic");
  (void)host->removeLoopbackDevice("bench_user_speaker");

  std::printf("call of %.0f s on %s, echo cancellation %s\n", elapsed,
              std::getenv("OSKEL_AUDIO_SERVER") ? std::getenv("OSKEL_AUDIO_SERVER") : "the audio server",
              call->echoCancellationActive() ? "on" : "off (virtual devices)");
  std::printf("mouth -> ear, user to them:  %.0f ms (median of %zu bursts)\n", medianLatencyMs(userMouth, atThem),
              userMouth.started.count.load());
  std::printf("mouth -> ear, them to user:  %.0f ms (median of %zu bursts)\n", medianLatencyMs(theirMouth, atUser),
              theirMouth.started.count.load());
  std::printf("CPU per second of call:      %.2f %% of one core (emulator included)\n", 100.0 * cpu / elapsed);
  std::printf("resident memory:             %.1f MB after 1 min, %.1f MB at the end\n", rssAtMinute, rssEnd);
  return 0;
}
