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
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <boost/json.hpp>

#include "audio/file/WAVFileInput.h"
#include "audio/file/WAVFileOutput.h"
#include "dsp/PCM16.h"
#include "emulator/ServiceEmulator.h"
#include "pipeline/TranslationPipeline.h"
#include "pipeline/TranscriptConsole.h"
#include "service/Base64.h"
#include "support/RealtimeGuard.h"

namespace oskel {
namespace {

using Steady = std::chrono::steady_clock;
constexpr double rate = 48000.0;
constexpr float clickThreshold = 0.45f;
constexpr size_t maxEvents = 4096;

double nowSeconds() { return std::chrono::duration<double>(Steady::now().time_since_epoch()).count(); }

// CPU time, not wall time: on a loaded machine a callback may be preempted.
// Reading it is a system call (about 1.7 us on a virtual machine); what of
// it falls inside each timed callback is measured and taken off.
double callbackTime() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// What timing an empty stretch of code reads: the clock's own share of every
// timed callback.
double timerOverhead() {
  constexpr int reads = 2000;
  double sum = 0.0;
  for (int i = 0; i < reads; ++i) {
    const double before = callbackTime();
    sum += callbackTime() - before;
  }
  return sum / reads;
}

// Time spent in a callback, and how many calls.
struct CallbackUse {
  std::atomic<double> cpu{0.0};
  std::atomic<int64_t> calls{0};
  void add(double seconds) {
    cpu.store(cpu.load(std::memory_order_relaxed) + seconds, std::memory_order_relaxed);
    calls.fetch_add(1, std::memory_order_relaxed);
  }
  double net(double overhead) const { return cpu.load() - static_cast<double>(calls.load()) * overhead; }
};

// Times of one kind of event, written by one thread without allocating.
class Times {
 public:
  void add(double t) {
    const size_t i = count_.load(std::memory_order_relaxed);
    if (i < maxEvents) {
      times_[i] = t;
      count_.store(i + 1, std::memory_order_release);
    }
  }
  std::vector<double> all() const {
    return {times_.begin(), times_.begin() + static_cast<std::ptrdiff_t>(count_.load(std::memory_order_acquire))};
  }

 private:
  std::array<double, maxEvents> times_{};
  std::atomic<size_t> count_{0};
};

// Finds click onsets in a stream of blocks: a sample above the threshold
// more than 100 ms after the previous click.
class ClickFinder {
 public:
  explicit ClickFinder(double sampleRate) : refractory_(static_cast<int64_t>(0.1 * sampleRate)) {}
  template <class OnClick>
  void scan(std::span<const float> block, OnClick&& onClick) {
    for (size_t i = 0; i < block.size(); ++i) {
      if (std::abs(block[i]) > clickThreshold && position_ + static_cast<int64_t>(i) - last_ > refractory_) {
        last_ = position_ + static_cast<int64_t>(i);
        onClick(i);
      }
    }
    position_ += static_cast<int64_t>(block.size());
  }

 private:
  int64_t refractory_;
  int64_t position_ = 0;
  int64_t last_ = -(1LL << 40);
};

// The input endpoint with the clicks' capture times and the callback's CPU.
class TimedInput final : public AudioInputEndpoint {
 public:
  explicit TimedInput(std::shared_ptr<AudioInputEndpoint> inner) : inner_(std::move(inner)), finder_(inner_->sampleRate()) {}
  std::string name() const override { return inner_->name(); }
  double sampleRate() const override { return inner_->sampleRate(); }
  void setOnFrames(FramesCallback callback) override {
    callback_ = std::move(callback);
    inner_->setOnFrames([this](std::span<const float> frames) {
      const double t = nowSeconds();
      const double n = static_cast<double>(frames.size());
      // A paced block ends now; sample i was captured (n - i) samples ago.
      finder_.scan(frames, [&](size_t i) { clicks.add(t - (n - static_cast<double>(i)) / sampleRate()); });
      const double before = callbackTime();
      callback_(frames);
      use.add(callbackTime() - before);
    });
  }
  std::expected<void, AudioIOError> start() override { return inner_->start(); }
  void stop() override { inner_->stop(); }

  Times clicks;
  CallbackUse use;

 private:
  std::shared_ptr<AudioInputEndpoint> inner_;
  FramesCallback callback_;
  ClickFinder finder_;
};

// The output endpoint with the render callback's CPU.
class TimedOutput final : public AudioOutputEndpoint {
 public:
  explicit TimedOutput(std::shared_ptr<AudioOutputEndpoint> inner) : inner_(std::move(inner)) {}
  std::string name() const override { return inner_->name(); }
  double sampleRate() const override { return inner_->sampleRate(); }
  void setRender(RenderCallback callback) override {
    callback_ = std::move(callback);
    inner_->setRender([this](std::span<float> frames) {
      const double before = callbackTime();
      callback_(frames);
      use.add(callbackTime() - before);
    });
  }
  std::expected<void, AudioIOError> start() override { return inner_->start(); }
  void stop() override { inner_->stop(); }

  CallbackUse use;

 private:
  std::shared_ptr<AudioOutputEndpoint> inner_;
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
  ClickFinder finder(24000.0);
  finder.scan(samples, [&](size_t) { ++found; });
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

struct ThreadUse {
  double cpu = 0.0;   // seconds on a core
  double wakes = 0.0;  // times the thread went to sleep and was woken
};

// CPU time and wake-ups of every thread of the process, by name. On a
// virtual machine a wake-up costs tens of microseconds of the thread's own
// time, more than the work most of them do.
std::map<std::string, ThreadUse> threadUse() {
  std::map<std::string, ThreadUse> use;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task")) {
    std::ifstream commFile(task.path() / "comm");
    std::ifstream schedFile(task.path() / "schedstat");
    std::ifstream statusFile(task.path() / "status");
    std::string name;
    double ns = 0;
    if (!std::getline(commFile, name) || !(schedFile >> ns)) continue;
    use[name].cpu += ns * 1e-9;
    for (std::string line; std::getline(statusFile, line);)
      if (line.starts_with("voluntary_ctxt_switches:")) use[name].wakes += std::atof(line.c_str() + 24);
  }
  return use;
}

// A thread that does nothing but sleep until the next 20 ms tick: the CPU a
// bare timed wake-up costs, measured on the thread's own clock.
class WakeProbe {
 public:
  WakeProbe() : thread_([this] { run(); }) {}
  ~WakeProbe() { finish(); }

  // CPU seconds per wake-up; stops the probe.
  double costPerWake() {
    finish();
    return wakes_ > 0 ? cpu_ / wakes_ : 0.0;
  }
  int wakes() const { return wakes_; }

 private:
  void run() {
    const double start = callbackTime();
    for (auto next = Steady::now(); !stopping_.load(std::memory_order_relaxed); ++wakes_) {
      next += std::chrono::milliseconds(20);
      std::this_thread::sleep_until(next);
    }
    cpu_ = callbackTime() - start;
  }
  void finish() {
    stopping_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::atomic<bool> stopping_{false};
  int wakes_ = 0;
  double cpu_ = 0.0;
  std::thread thread_;
};

struct Stats {
  double p50, p95, max;
  size_t count;
};

Stats statsOf(std::vector<double> values) {
  if (values.empty()) return {0, 0, 0, 0};
  std::sort(values.begin(), values.end());
  const auto at = [&](double q) { return values[std::min(values.size() - 1, static_cast<size_t>(q * static_cast<double>(values.size())))]; };
  return {at(0.5), at(0.95), values.back(), values.size()};
}

// For every time in `from`, the delay to the first time in `to` at or after
// it (within a second); a click seen twice (split over two messages) or
// missed does not shift the pairs.
std::vector<double> delays(const std::vector<double>& from, const std::vector<double>& to) {
  std::vector<double> out;
  for (double t : from) {
    const auto next = std::lower_bound(to.begin(), to.end(), t);
    if (next != to.end() && *next - t < 1.0) out.push_back((*next - t) * 1000.0);
  }
  return out;
}

void print(const char* what, const Stats& stats, double floor) {
  std::printf("%-14s p50 %6.1f ms  p95 %6.1f ms  max %6.1f ms  (%zu clicks; floor %.0f ms; p95/floor %.2f)\n", what,
              stats.p50, stats.p95, stats.max, stats.count, floor, stats.p95 / floor);
}

struct Run {
  std::shared_ptr<TimedInput> input;
  std::shared_ptr<TimedOutput> output;
  std::shared_ptr<TranslationPipeline> pipeline;
};

Run makeRun(const std::vector<float>& track, std::shared_ptr<WebSocketClient> client, Times* ear) {
  Run run;
  run.input = std::make_shared<TimedInput>(std::make_shared<WAVFileInput>("clicks", WAV::Audio{track, rate}, WAVFileInput::Options{}));
  WAVFileOutput::Options outputOptions;
  outputOptions.sampleRate = rate;
  run.output = std::make_shared<TimedOutput>(std::shared_ptr<WAVFileOutput>(*WAVFileOutput::create(std::nullopt, outputOptions)));
  PipelineConfig config("en→es", run.input, run.output, TranslationOptions("es"), TranslationCredential::openai("bench"));
  config.voiceOverGainDB = -12.0;
  config.voiceOverDuckDB = -24.0;
  config.normalizeInput = true;
  auto environment = TranslationSession::Environment::live();
  environment.webSocketClient = std::move(client);
  config.sessionEnvironment = environment;
  run.pipeline = TranslationPipeline::make(std::move(config));
  if (ear) {
    auto finder = std::make_shared<ClickFinder>(rate);
    run.pipeline->setOutputTap([ear, finder](std::span<const float> block) {
      const double t = nowSeconds();
      finder->scan(block, [&](size_t i) { ear->add(t + static_cast<double>(i) / rate); });
    });
  }
  return run;
}

void stop(TranslationPipeline& pipeline) {
  std::atomic<bool> done{false};
  pipeline.stop(4.0, [&] { done = true; });
  while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(5));
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
    const auto mouth = run.input->clicks.all();
    const auto wire = client->sent.all();
    const auto back = client->received.all();
    const auto heard = ear.all();
    std::printf("one direction, 48 kHz in and out, 10 ms device periods, %.0f s, emulator echoing at once\n", seconds);
    print("mouth -> wire", statsOf(delays(mouth, wire)), 120.0);
    print("wire -> ear", statsOf(delays(back, heard)), 130.0);
    print("mouth -> ear", statsOf(delays(mouth, heard)), 250.0);
    wakeCost = probe.costPerWake();
    std::printf("a bare timed wake-up costs %.1f us of the thread's CPU (%d wakes at 20 ms)\n", wakeCost * 1e6,
                probe.wakes());
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
    std::printf("CPU per second of audio (voice-over and normaliser on; the timer's own %.1f us per callback "
                "taken off):\n",
                overhead * 1e6);
    std::printf("  %-18s %7.1f us\n", "capture callback", run.input->use.net(overhead) / seconds * 1e6);
    std::printf("  %-18s %7.1f us\n", "render callback", run.output->use.net(overhead) / seconds * 1e6);
    for (const auto& [name, use] : after) {
      const auto old = before.contains(name) ? before.at(name) : ThreadUse{};
      const double used = use.cpu - old.cpu;
      const double wakes = use.wakes - old.wakes;
      const bool ours = name.starts_with("oskel.encoder") || name.starts_with("oskel.session") || name == "oskel.network";
      if (!ours) continue;
      engine += used;
      floor += wakes * wakeCost;
      std::printf("  %-18s %7.1f us  %5.1f wake-ups  floor %6.1f us  above it %6.1f us\n", name.c_str(),
                  used / seconds * 1e6, wakes / seconds, wakes * wakeCost / seconds * 1e6,
                  (used - wakes * wakeCost) / seconds * 1e6);
    }
    std::printf("  %-18s %7.1f us = %.3f %% of one core\n", "engine total", engine / seconds * 1e6, engine / seconds * 100.0);
    std::printf("  %-18s %7.1f us = %.3f %% of one core (wake-ups x %.1f us + the callbacks)\n", "floor",
                floor / seconds * 1e6, floor / seconds * 100.0, wakeCost * 1e6);
    std::printf("heap calls on the capture and render paths: %lld\n", static_cast<long long>(heapCalls));
    double load[3] = {};
    if (getloadavg(load, 3) == 3) std::printf("load average %.2f %.2f %.2f on %u cores\n", load[0], load[1], load[2], std::thread::hardware_concurrency());
  }
  return 0;
}
