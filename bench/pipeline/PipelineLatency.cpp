// What one translation direction costs a listener, in real time against the
// local service emulator, which echoes every chunk the moment it arrives:
//
//   mouth -> wire  a click's capture to the "append" carrying it being handed
//                  to the socket (floor: 20 ms encoder poll + 100 ms chunk)
//   wire -> ear    the delta carrying its echo arriving to the click's sample
//                  being rendered (floor: 120 ms prefill + one 10 ms period)
//
// and the CPU the engine spends per second of audio (encoder, session queue,
// network thread, capture and render callbacks; the emulator and the paced
// endpoints' own clocks excluded), with voice-over and the normaliser on,
// plus heap calls on the capture and render paths.
//
// The floor: on a virtual machine a thread's timed wake-up alone costs it
// tens of microseconds. A probe thread that only sleeps until the next 20 ms
// tick measures that cost during the latency run; each thread's floor is its
// wake-ups times that cost, and the engine's floor adds the callbacks.
//
//   build/bench/pipeline/pipeline_latency [seconds]     (default 30)
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <boost/json.hpp>

#include "audio/file/WAVFileInput.h"
#include "audio/file/WAVFileOutput.h"
#include "common/Clocks.h"
#include "common/OnsetFinder.h"
#include "common/RealtimeLog.h"
#include "common/Statistics.h"
#include "dsp/PCM16.h"
#include "emulator/ServiceEmulator.h"
#include "pipeline/TranscriptConsole.h"
#include "pipeline/TranslationPipeline.h"
#include "service/Base64.h"
#include "support/RealtimeGuard.h"

namespace oskel {
namespace {

using namespace bench;
using Steady = std::chrono::steady_clock;
using Times = RealtimeLog<double>;
constexpr double rate = 48000.0;

// A click: a sample above 0.45 after 100 ms below it.
OnsetFinder clickFinder(double sampleRate) { return OnsetFinder(sampleRate, 0.45f, 0.1); }

// Time spent in a callback, and how many calls.
struct CallbackUse {
  std::atomic<double> cpu{0.0};
  std::atomic<int64_t> calls{0};
  template <class Call>
  void time(Call&& call) {
    const double before = threadCPU();
    call();
    cpu.store(cpu.load(std::memory_order_relaxed) + threadCPU() - before, std::memory_order_relaxed);
    calls.fetch_add(1, std::memory_order_relaxed);
  }
  double net(double overhead) const { return cpu.load() - static_cast<double>(calls.load()) * overhead; }
};

// What timing an empty stretch of code reads on the thread's CPU clock (a
// system call, about 1.7 us on a virtual machine): the clock's own share of
// every timed callback, taken off.
double timerOverhead() {
  constexpr int calls = 2000;
  CallbackUse empty;
  for (int i = 0; i < calls; ++i) empty.time([] {});
  return empty.net(0.0) / calls;
}

// An endpoint passed through, with its callback's CPU.
template <class Endpoint>
class Timed : public Endpoint {
 public:
  explicit Timed(std::shared_ptr<Endpoint> inner) : inner_(std::move(inner)) {}
  std::string name() const override { return inner_->name(); }
  double sampleRate() const override { return inner_->sampleRate(); }
  std::expected<void, AudioIOError> start() override { return inner_->start(); }
  void stop() override { inner_->stop(); }

  CallbackUse use;

 protected:
  std::shared_ptr<Endpoint> inner_;
};

// The input endpoint with the clicks' capture times.
class TimedInput final : public Timed<AudioInputEndpoint> {
 public:
  using Timed::Timed;
  void setOnFrames(FramesCallback callback) override {
    callback_ = std::move(callback);
    inner_->setOnFrames([this](std::span<const float> frames) {
      const double t = nowSeconds();
      const double n = static_cast<double>(frames.size());
      // A paced block ends now; sample i was captured (n - i) samples ago.
      finder_.scan(frames, [&](size_t i) { clicks.add(t - (n - static_cast<double>(i)) / sampleRate()); });
      use.time([&] { callback_(frames); });
    });
  }

  Times clicks;

 private:
  FramesCallback callback_;
  OnsetFinder finder_ = clickFinder(inner_->sampleRate());
};

class TimedOutput final : public Timed<AudioOutputEndpoint> {
 public:
  using Timed::Timed;
  void setRender(RenderCallback callback) override {
    callback_ = std::move(callback);
    inner_->setRender([this](std::span<float> frames) { use.time([&] { callback_(frames); }); });
  }

 private:
  RenderCallback callback_;
};

// Clicks in the PCM16 audio of a JSON message's member.
size_t clicksIn(const std::string& text, const char* member) {
  boost::system::error_code error;
  const auto value = boost::json::parse(text, error);
  if (error || !value.is_object()) return 0;
  const auto* audio = value.as_object().if_contains(member);
  if (!audio || !audio->is_string()) return 0;
  const auto bytes = Base64::decode(std::string_view(audio->as_string()));
  if (!bytes) return 0;
  const auto samples = PCM16::decode(*bytes);
  size_t found = 0;
  clickFinder(24000.0).scan(samples, [&](size_t) { ++found; });
  return found;
}

// Wraps the real WebSocket client to see appends leave and deltas arrive.
class TimedConnection final : public WebSocketConnection {
 public:
  TimedConnection(std::shared_ptr<WebSocketConnection> inner, Times& sent, Times& received)
      : inner_(std::move(inner)), sent_(sent), received_(received) {}
  void start(Handlers handlers) override {
    auto onMessage = std::move(handlers.onMessage);
    handlers.onMessage = [this, onMessage](std::string bytes) {
      const double t = nowSeconds();
      if (bytes.find("session.output_audio.delta") != std::string::npos)
        for (size_t n = clicksIn(bytes, "delta"); n > 0; --n) received_.add(t);
      onMessage(std::move(bytes));
    };
    inner_->start(std::move(handlers));
  }
  void sendText(std::string text) override { inner_->sendText(std::move(text)); }
  void sendAudio(std::string text) override {
    const double t = nowSeconds();
    for (size_t n = clicksIn(text, "audio"); n > 0; --n) sent_.add(t);
    inner_->sendAudio(std::move(text));
  }
  void close(std::function<void()> done) override { inner_->close(std::move(done)); }

 private:
  std::shared_ptr<WebSocketConnection> inner_;
  Times& sent_;
  Times& received_;
};

class TimedClient final : public WebSocketClient {
 public:
  std::shared_ptr<WebSocketConnection> makeConnection(const HttpRequest& request, std::size_t limit) override {
    return std::make_shared<TimedConnection>(inner_->makeConnection(request, limit), sent, received);
  }
  Times sent;
  Times received;

 private:
  std::shared_ptr<WebSocketClient> inner_ = defaultWebSocketClient();
};

// A -45 dBFS noise bed (above the silence gate and the floor of played
// audio, so the playout never stops) with a 1 ms click every 500 ms plus a
// random 0-100 ms, so clicks fall anywhere in a chunk.
std::vector<float> clickTrack(double seconds) {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> noise(-0.0097f, 0.0097f);
  std::uniform_real_distribution<double> jitter(0.0, 0.1);
  std::vector<float> samples(static_cast<size_t>(seconds * rate));
  for (auto& s : samples) s = noise(random);
  for (double at = 1.0; at + 0.7 < seconds; at += 0.5) {
    const auto start = static_cast<size_t>((at + jitter(random)) * rate);
    for (size_t i = 0; i < 48; ++i) samples[start + i] = 0.9f;
  }
  return samples;
}

// A thread that does nothing but sleep until the next 20 ms tick: the CPU a
// bare timed wake-up costs, measured on the thread's own clock.
struct WakeProbe {
  int wakes = 0;
  double cpu = 0.0;
  std::jthread thread{[this](std::stop_token stop) {
    const double start = threadCPU();
    for (auto next = Steady::now(); !stop.stop_requested(); ++wakes) {
      next += std::chrono::milliseconds(20);
      std::this_thread::sleep_until(next);
    }
    cpu = threadCPU() - start;
  }};

  // CPU seconds per wake-up; stops the probe.
  double costPerWake() {
    thread.request_stop();
    thread.join();
    return wakes > 0 ? cpu / wakes : 0.0;
  }
};

void print(const char* what, const std::vector<double>& from, const std::vector<double>& to, double floor) {
  const auto ms = delaysMs(from, to, 1.0);
  const double p95 = percentile(ms, 0.95);
  std::printf("%-14s p50 %6.1f ms  p95 %6.1f ms  max %6.1f ms  (%zu clicks; floor %.0f ms; p95/floor %.2f)\n", what,
              percentile(ms, 0.5), p95, percentile(ms, 1.0), ms.size(), floor, p95 / floor);
}

struct Run {
  std::shared_ptr<TimedInput> input;
  std::shared_ptr<TimedOutput> output;
  std::shared_ptr<TranslationPipeline> pipeline;
};

Run makeRun(const std::vector<float>& track, std::shared_ptr<WebSocketClient> client, Times* ear) {
  Run run;
  run.input = std::make_shared<TimedInput>(
      std::make_shared<WAVFileInput>("clicks", WAV::Audio{track, rate}, WAVFileInput::Options{}));
  WAVFileOutput::Options outputOptions;
  outputOptions.sampleRate = rate;
  run.output = std::make_shared<TimedOutput>(
      std::shared_ptr<WAVFileOutput>(*WAVFileOutput::create(std::nullopt, outputOptions)));
  PipelineConfig config("en→es", run.input, run.output, TranslationOptions("es"),
                        TranslationCredential::openai("bench"));
  config.voiceOverGainDB = -12.0;
  config.voiceOverDuckDB = -24.0;
  config.normalizeInput = true;
  auto environment = TranslationSession::Environment::live();
  environment.webSocketClient = std::move(client);
  config.sessionEnvironment = environment;
  run.pipeline = TranslationPipeline::make(std::move(config));
  if (ear) {
    auto finder = std::make_shared<OnsetFinder>(clickFinder(rate));
    run.pipeline->setOutputTap([ear, finder](std::span<const float> block) {
      const double t = nowSeconds();
      finder->scan(block, [&](size_t i) { ear->add(t + static_cast<double>(i) / rate); });
    });
  }
  return run;
}

void stop(TranslationPipeline& pipeline) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  pipeline.stop(4.0, [done] { *done = true; });
  waitUntil([&] { return done->load(); }, 10.0);
}

}  // namespace
}  // namespace oskel

int main(int argc, char** argv) {
  using namespace oskel;
  const double seconds = argc > 1 ? std::atof(argv[1]) : 30.0;
  TranscriptConsole::shared().enabled = false;
  auto emulator = emulator::ServiceEmulator::start();
  if (!emulator) {
    std::fprintf(stderr, "cannot start the emulator: %s\n", emulator.error().c_str());
    return 1;
  }
  setenv("OSKEL_OPENAI_API", (*emulator)->httpOrigin().c_str(), 1);
  const auto track = clickTrack(seconds);
  const double overhead = timerOverhead();
  double wakeCost = 0.0;

  // Latency: clicks timed at the microphone, the socket and the speaker.
  // The wake-up probe runs alongside, under the same load as the engine.
  {
    WakeProbe probe;
    auto client = std::make_shared<TimedClient>();
    Times ear;
    auto run = makeRun(track, client, &ear);
    // The track opens with a second of noise bed while the session connects.
    run.pipeline->start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds + 0.5));
    stop(*run.pipeline);
    std::printf("one direction, 48 kHz in and out, 10 ms device periods, %.0f s, emulator echoing at once\n", seconds);
    print("mouth -> wire", run.input->clicks.all(), client->sent.all(), 120.0);
    print("wire -> ear", client->received.all(), ear.all(), 130.0);
    print("mouth -> ear", run.input->clicks.all(), ear.all(), 250.0);
    wakeCost = probe.costPerWake();
    std::printf("a bare timed wake-up costs %.1f us of the thread's CPU (%d wakes at 20 ms)\n", wakeCost * 1e6,
                probe.wakes);
  }

  // CPU: the same run without the timing taps on the socket.
  {
    auto run = makeRun(track, defaultWebSocketClient(), nullptr);
    test::resetRealtimeAllocationCount();
    const auto before = threadUse();
    run.pipeline->start();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const auto after = threadUse();
    const int64_t heapCalls = test::allocationsInRealtimeScopes();
    stop(*run.pipeline);
    const double callbacks = run.input->use.net(overhead) + run.output->use.net(overhead);
    double engine = callbacks;
    double floor = callbacks;
    std::printf(
        "CPU per second of audio (voice-over and normaliser on; the timer's own %.1f us per callback taken off):\n",
        overhead * 1e6);
    std::printf("  %-18s %7.1f us\n", "capture callback", run.input->use.net(overhead) / seconds * 1e6);
    std::printf("  %-18s %7.1f us\n", "render callback", run.output->use.net(overhead) / seconds * 1e6);
    for (const auto& [name, use] : after) {
      const auto old = before.contains(name) ? before.at(name) : ThreadUse{};
      const double used = use.cpu - old.cpu;
      const double wakes = use.wakes - old.wakes;
      const bool ours =
          name.starts_with("oskel.encoder") || name.starts_with("oskel.session") || name == "oskel.network";
      if (!ours) continue;
      engine += used;
      floor += wakes * wakeCost;
      std::printf("  %-18s %7.1f us  %5.1f wake-ups  floor %6.1f us  above it %6.1f us\n", name.c_str(),
                  used / seconds * 1e6, wakes / seconds, wakes * wakeCost / seconds * 1e6,
                  (used - wakes * wakeCost) / seconds * 1e6);
    }
    std::printf("  %-18s %7.1f us = %.3f %% of one core\n", "engine total", engine / seconds * 1e6,
                engine / seconds * 100.0);
    std::printf("  %-18s %7.1f us = %.3f %% of one core (wake-ups x %.1f us + the callbacks)\n", "floor",
                floor / seconds * 1e6, floor / seconds * 100.0, wakeCost * 1e6);
    std::printf("heap calls on the capture and render paths: %lld\n", static_cast<long long>(heapCalls));
    double load[3] = {};
    if (getloadavg(load, 3) == 3)
      std::printf("load average %.2f %.2f %.2f on %u cores\n", load[0], load[1], load[2],
                  std::thread::hardware_concurrency());
  }
  return 0;
}
