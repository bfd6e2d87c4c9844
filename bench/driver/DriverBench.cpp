// Cost of the driver's IO path per frame: WriteMix and ReadInput as the audio
// server calls them, through the function table, on a running device.
#include <benchmark/benchmark.h>

#include <vector>

#include "HostSimulator.h"

using namespace oskel::driver_test;

namespace {

HostSimulator& runningHost() {
  static HostSimulator* host = [] {
    auto* simulator = new HostSimulator();
    simulator->initialize();
    simulator->startIO(kMicrophone, 1);
    return simulator;
  }();
  return *host;
}

enum class Operation { write, read, writeThenRead };

void runCycles(benchmark::State& state, Operation operation) {
  HostSimulator& host = runningHost();
  const auto frames = static_cast<UInt32>(state.range(0));
  std::vector<float> buffer(2 * frames, 0.25f);
  const auto& t = host.call();
  AudioServerPlugInIOCycleInfo cycle{};
  Float64 time = 0;
  for (auto _ : state) {
    // Consecutive cycles, as a real stream: every write lands in a fresh slot lap.
    cycle.mOutputTime.mSampleTime = time + frames;
    cycle.mInputTime.mSampleTime = time - frames;
    if (operation != Operation::read)
      t.DoIOOperation(host.driver(), kMicrophone, kMicrophoneOutput, 1, kAudioServerPlugInIOOperationWriteMix, frames,
                      &cycle, buffer.data(), nullptr);
    if (operation != Operation::write)
      t.DoIOOperation(host.driver(), kMicrophone, kMicrophoneInput, 1, kAudioServerPlugInIOOperationReadInput, frames,
                      &cycle, buffer.data(), nullptr);
    benchmark::DoNotOptimize(buffer.data());
    time += frames;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * frames);
  // Seconds per frame; shown as ns with the SI prefix "n".
  state.counters["per_frame"] = benchmark::Counter(static_cast<double>(frames),
                                                   benchmark::Counter::kIsIterationInvariantRate |
                                                       benchmark::Counter::kInvert);
}

void BM_WriteMix(benchmark::State& state) { runCycles(state, Operation::write); }
void BM_ReadInput(benchmark::State& state) { runCycles(state, Operation::read); }
void BM_WriteMixThenReadInput(benchmark::State& state) { runCycles(state, Operation::writeThenRead); }

}  // namespace

BENCHMARK(BM_WriteMix)->Arg(64)->Arg(512)->Arg(4096);
BENCHMARK(BM_ReadInput)->Arg(64)->Arg(512)->Arg(4096);
BENCHMARK(BM_WriteMixThenReadInput)->Arg(512);
