// What a user feels on a real audio server: how long a sample played into a
// loopback device takes to come back on its input, how often the IO
// callbacks run, and what one capture plus one playback stream cost the
// engine and the server. Needs a private server:
//
//   bash scripts/audio-servers.sh run pulseaudio -- build/bench/audio/bench_audio_server
//   bash scripts/audio-servers.sh run pipewire -- build/bench/audio/bench_audio_server
//
// The argument is the requested playback buffer in ms (the capture fragment
// is half of it); 0 leaves the server's default buffering.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <thread>
#include <utility>
#include <vector>

#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/LoopbackDevices.h"
#include "audio/pulse/PulseAudioHost.h"
#include "common/Clocks.h"
#include "common/RealtimeLog.h"
#include "common/Statistics.h"

using namespace oskel;
using namespace oskel::bench;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// How often a callback runs, and with how many frames.
struct Callbacks {
  RealtimeLog<double> gapsMs{1 << 14};
  Clock::time_point last{};
  int64_t calls = 0;
  int64_t frames = 0;
  void note(Clock::time_point now, size_t count) {
    if (calls++ > 0) gapsMs.add(seconds(now - last) * 1000.0);
    last = now;
    frames += static_cast<int64_t>(count);
  }
  double framesPerCall() const { return calls ? static_cast<double>(frames) / static_cast<double>(calls) : 0.0; }
};

// Clicks every 500 ms; the time each left the render callback and the time
// each came back in a capture callback. A click's length tells its number
// modulo 16, so that a latency of several periods still pairs each echo with
// its click. Logs are sized up front: the callbacks run on the IO thread.
struct ClickLoop {
  static constexpr int64_t unit = 16;  // samples per length step
  RealtimeLog<Clock::time_point> written{256};
  RealtimeLog<std::pair<Clock::time_point, int64_t>> heard{256};  // start, residue
  int64_t period = 24000;
  int64_t position = 0;
  int64_t loudRun = 0;
  Clock::time_point runStart{};
  Callbacks rendered, captured;

  void render(std::span<float> frames) {
    const auto now = Clock::now();
    rendered.note(now, frames.size());
    for (float& sample : frames) {
      const int64_t click = position / period;
      const int64_t phase = position++ % period;
      sample = phase < unit * (1 + click % 16) ? 0.8f : 0.0f;
      if (phase == 0) written.add(now);
    }
  }

  void capture(std::span<const float> frames) {
    const auto now = Clock::now();
    captured.note(now, frames.size());
    for (float sample : frames) {
      if (sample > 0.3f) {
        if (loudRun++ == 0) runStart = now;
      } else if (loudRun > 0) {
        const int64_t residue = (loudRun + unit / 2) / unit - 1;
        if (residue >= 0 && residue < 16) heard.add({runStart, residue});
        loudRun = 0;
      }
    }
  }

  // Pairs every echo with the latest click of the same residue written before it.
  std::vector<double> latenciesMs() const {
    std::vector<double> result;
    const auto clicks = written.all();
    for (const auto& [at, residue] : heard.all()) {
      for (size_t k = clicks.size(); k-- > 0;) {
        if (static_cast<int64_t>(k % 16) == residue && clicks[k] <= at) {
          result.push_back(seconds(at - clicks[k]) * 1000.0);
          break;
        }
      }
    }
    return result;
  }
};

void BM_LoopbackThroughNullSink(benchmark::State& state) {
  if (!std::getenv("OSKEL_AUDIO_SERVER"))
    return state.SkipWithError("needs a private audio server: scripts/audio-servers.sh run pulseaudio -- ...");
  PulseAudioHost::Options options;
  options.playbackBufferMs = static_cast<double>(state.range(0));
  options.captureFragmentMs = static_cast<double>(state.range(0)) / 2;
  auto connected = PulseAudioHost::connect(options);
  if (!connected) return state.SkipWithError(connected.error().description().c_str());
  std::shared_ptr<PulseAudioHost> host = *connected;
  if (auto installed = LoopbackDevices::install(*host); !installed)
    return state.SkipWithError(installed.error().description().c_str());
  const auto device = AudioDevices::find(*host, AudioDevices::oskelMicrophoneUID, AudioDevices::Direction::input);
  if (!device) return state.SkipWithError(device.error().description().c_str());

  for (auto _ : state) {
    // Idle server first: its cost without our streams.
    const auto idleStart = Clock::now();
    const double idleServer0 = serverCPU();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double idleServer = (serverCPU() - idleServer0) / seconds(Clock::now() - idleStart);

    ClickLoop loop;
    auto playback = AudioPlayback::make(host, *device, [&](std::span<float> f) { loop.render(f); });
    auto capture = AudioCapture::make(host, *device, [&](std::span<const float> f) { loop.capture(f); });
    if (!playback || !capture) {
      state.SkipWithError("cannot open the loopback device");
      break;
    }
    loop.period = static_cast<int64_t>((*playback)->sampleRate() / 2);
    (void)(*capture)->start();
    (void)(*playback)->start();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));  // settle
    const auto start = Clock::now();
    const double engine0 = processCPU();
    const double server0 = serverCPU();
    std::this_thread::sleep_for(std::chrono::seconds(10));
    const double wall = seconds(Clock::now() - start);
    const double engine = (processCPU() - engine0) / wall;
    const double server = (serverCPU() - server0) / wall;
    (*capture)->stop();
    (*playback)->stop();

    const auto latencies = loop.latenciesMs();
    state.counters["latency_ms_median"] = median(latencies);
    state.counters["latency_ms_p95"] = percentile(latencies, 0.95);
    state.counters["clicks"] = static_cast<double>(latencies.size());
    state.counters["render_period_ms"] = median(loop.rendered.gapsMs.all());
    state.counters["render_frames_per_call"] = loop.rendered.framesPerCall();
    state.counters["capture_period_ms"] = median(loop.captured.gapsMs.all());
    state.counters["capture_frames_per_call"] = loop.captured.framesPerCall();
    state.counters["engine_cpu_pct"] = engine * 100.0;
    state.counters["server_cpu_pct"] = server * 100.0;
    state.counters["server_idle_cpu_pct"] = idleServer * 100.0;
  }
  (void)LoopbackDevices::remove(*host);
}
BENCHMARK(BM_LoopbackThroughNullSink)->Arg(20)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
