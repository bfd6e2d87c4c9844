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

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/LoopbackDevices.h"
#include "audio/pulse/PulseAudioHost.h"
#include "ServerStats.h"

using namespace oskel;
using Clock = std::chrono::steady_clock;
using bench::median;
using bench::processCPU;
using bench::serverCPU;

namespace {

double seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }


double percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0.0;
  std::sort(values.begin(), values.end());
  return values[std::min(values.size() - 1, static_cast<size_t>(p * static_cast<double>(values.size())))];
}

// Clicks every 500 ms; the time each left the render callback and the time
// each came back in a capture callback. A click's length tells its number
// modulo 16, so that a latency of several periods still pairs each echo with
// its click. Arrays are sized up front: the callbacks run on the IO thread.
struct ClickLoop {
  static constexpr size_t maxClicks = 256;
  static constexpr int64_t unit = 16;  // samples per length step
  std::vector<Clock::time_point> written = std::vector<Clock::time_point>(maxClicks);
  std::vector<std::pair<Clock::time_point, int64_t>> heard =
      std::vector<std::pair<Clock::time_point, int64_t>>(maxClicks);  // start, residue
  std::atomic<size_t> writtenCount{0};
  std::atomic<size_t> heardCount{0};
  int64_t period = 24000;
  int64_t position = 0;
  int64_t loudRun = 0;
  Clock::time_point runStart{};
  // Callback periods.
  Clock::time_point lastRender{};
  Clock::time_point lastCapture{};
  std::vector<double> renderGaps = std::vector<double>(1 << 14);
  std::vector<double> captureGaps = std::vector<double>(1 << 14);
  size_t renderCalls = 0;
  size_t captureCalls = 0;
  int64_t renderFrames = 0;
  int64_t captureFrames = 0;

  void render(std::span<float> frames) {
    const auto now = Clock::now();
    if (renderCalls > 0 && renderCalls < renderGaps.size()) renderGaps[renderCalls] = seconds(now - lastRender);
    lastRender = now;
    ++renderCalls;
    renderFrames += static_cast<int64_t>(frames.size());
    for (float& sample : frames) {
      const int64_t click = position / period;
      const int64_t phase = position++ % period;
      sample = phase < unit * (1 + click % 16) ? 0.8f : 0.0f;
      if (phase == 0 && writtenCount < maxClicks) written[writtenCount++] = now;
    }
  }

  // Pairs every echo with the latest click of the same residue written before it.
  std::vector<double> latenciesMs() const {
    std::vector<double> result;
    const size_t clicks = writtenCount.load();
    for (size_t h = 0; h < heardCount.load(); ++h) {
      const auto [at, residue] = heard[h];
      for (size_t k = clicks; k-- > 0;) {
        if (static_cast<int64_t>(k % 16) == residue && written[k] <= at) {
          result.push_back(seconds(at - written[k]) * 1000.0);
          break;
        }
      }
    }
    return result;
  }

  void capture(std::span<const float> frames) {
    const auto now = Clock::now();
    if (captureCalls > 0 && captureCalls < captureGaps.size()) captureGaps[captureCalls] = seconds(now - lastCapture);
    lastCapture = now;
    ++captureCalls;
    captureFrames += static_cast<int64_t>(frames.size());
    for (float sample : frames) {
      if (sample > 0.3f) {
        if (loudRun++ == 0) runStart = now;
      } else if (loudRun > 0) {
        const int64_t residue = (loudRun + unit / 2) / unit - 1;
        if (heardCount < maxClicks && residue >= 0 && residue < 16) heard[heardCount++] = {runStart, residue};
        loudRun = 0;
      }
    }
  }
};

void BM_LoopbackThroughNullSink(benchmark::State& state) {
  if (!std::getenv("OSKEL_AUDIO_SERVER")) {
    state.SkipWithError("needs a private audio server: scripts/audio-servers.sh run pulseaudio -- ...");
    return;
  }
  PulseAudioHost::Options options;
  options.playbackBufferMs = static_cast<double>(state.range(0));
  options.captureFragmentMs = static_cast<double>(state.range(0)) / 2;
  auto connected = PulseAudioHost::connect(options);
  if (!connected) {
    state.SkipWithError(connected.error().description().c_str());
    return;
  }
  std::shared_ptr<PulseAudioHost> host = *connected;
  if (auto installed = LoopbackDevices::install(*host); !installed) {
    state.SkipWithError(installed.error().description().c_str());
    return;
  }
  const auto device = AudioDevices::find(*host, AudioDevices::oskelMicrophoneUID, AudioDevices::Direction::input);
  if (!device) {
    state.SkipWithError(device.error().description().c_str());
    return;
  }

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
    const auto gaps = [](const std::vector<double>& all, size_t calls) {
      std::vector<double> ms;
      for (size_t i = 1; i < std::min(calls, all.size()); ++i) ms.push_back(all[i] * 1000.0);
      return ms;
    };
    state.counters["latency_ms_median"] = median(latencies);
    state.counters["latency_ms_p95"] = percentile(latencies, 0.95);
    state.counters["clicks"] = static_cast<double>(latencies.size());
    state.counters["render_period_ms"] = median(gaps(loop.renderGaps, loop.renderCalls));
    state.counters["render_frames_per_call"] =
        loop.renderCalls ? static_cast<double>(loop.renderFrames) / static_cast<double>(loop.renderCalls) : 0.0;
    state.counters["capture_period_ms"] = median(gaps(loop.captureGaps, loop.captureCalls));
    state.counters["capture_frames_per_call"] =
        loop.captureCalls ? static_cast<double>(loop.captureFrames) / static_cast<double>(loop.captureCalls) : 0.0;
    state.counters["engine_cpu_pct"] = engine * 100.0;
    state.counters["server_cpu_pct"] = server * 100.0;
    state.counters["server_idle_cpu_pct"] = idleServer * 100.0;
  }
  (void)LoopbackDevices::remove(*host);
}
BENCHMARK(BM_LoopbackThroughNullSink)->Arg(20)->Arg(0)->Iterations(1)->Unit(benchmark::kSecond);

}  // namespace
