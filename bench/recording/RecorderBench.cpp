// What a recording costs: the audio thread's copy per callback, and the writer
// thread's CPU per minute of call, measured in real time with two devices
// delivering 10 ms callbacks (44.1 kHz and 16 kHz).
//
//   build/bench/recording/bench_recording
//   (BM_WriterCpuPerCallMinute records a 10 s call in real time)
#include <stdlib.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include <benchmark/benchmark.h>

#include "common/Clocks.h"
#include "log/Log.h"
#include "recording/CallRecorder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono;

// A fresh folder of its own, removed with what it holds; never the temporary
// directory itself, which the removal would empty.
struct BenchFolder {
  BenchFolder() {
    std::string pattern = (fs::temp_directory_path() / "oskel-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    path = pattern;
  }
  ~BenchFolder() {
    std::error_code ignored;
    fs::remove_all(path, ignored);
  }
  fs::path path;
};

std::vector<float> tone(double rate, size_t count) {
  std::vector<float> samples(count);
  for (size_t i = 0; i < count; ++i)
    samples[i] = 0.3f * static_cast<float>(std::sin(2 * 3.14159265 * 440 * static_cast<double>(i) / rate));
  return samples;
}

// One 10 ms callback from a 44.1 kHz device while the writer drains.
void BM_WriteCallback(benchmark::State& state) {
  oskel::Log::setSink([](std::string_view) {});
  BenchFolder folder;
  auto recorder = oskel::CallRecorder::create(folder.path / "bench.wav", 44100, 16000);
  if (!recorder) return state.SkipWithError(recorder.error().description().c_str());
  const auto block = tone(44100, 441);
  for (auto _ : state) (*recorder)->writeLeft(block);
  (*recorder)->stop();
}
BENCHMARK(BM_WriteCallback);

// Writer-thread CPU per minute of recorded call. The argument is the length of
// the measured call in seconds (real time).
void BM_WriterCpuPerCallMinute(benchmark::State& state) {
  oskel::Log::setSink([](std::string_view) {});
  const auto seconds = state.range(0);
  for (auto _ : state) {
    BenchFolder folder;
    auto recorder = oskel::CallRecorder::create(folder.path / "bench.wav", 44100, 16000);
    if (!recorder) return state.SkipWithError(recorder.error().description().c_str());
    const auto before = oskel::bench::threadUse()["oskel.recorder"];
    const auto device = [&](double rate, bool left) {
      const auto block = tone(rate, static_cast<size_t>(rate / 100));
      const auto start = steady_clock::now();
      for (std::int64_t callback = 1; callback <= seconds * 100; ++callback) {
        if (left)
          (*recorder)->writeLeft(block);
        else
          (*recorder)->writeRight(block);
        std::this_thread::sleep_until(start + callback * 10ms);
      }
    };
    std::thread speaker(device, 44100.0, true);
    std::thread headset(device, 16000.0, false);
    speaker.join();
    headset.join();
    // Read while the writer runs: its thread is gone once stopped.
    const auto after = oskel::bench::threadUse()["oskel.recorder"];
    const auto result = (*recorder)->stop();
    const double perMinute = (after.cpu - before.cpu) * 60.0 / static_cast<double>(seconds);
    state.counters["writer_cpu_ms_per_call_min"] = perMinute * 1e3;
    state.counters["writer_core_percent"] = perMinute / 60.0 * 100;
    state.counters["writer_wakeups"] = after.wakes - before.wakes;
    state.counters["recorded_s"] = result.duration;
  }
}
BENCHMARK(BM_WriterCpuPerCallMinute)->Arg(10)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
