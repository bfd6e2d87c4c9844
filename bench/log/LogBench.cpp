#include <benchmark/benchmark.h>

#include "log/Log.h"

// A debug line that is switched off must cost next to nothing: callers put
// them on hot paths (per received message, per send).
static void BM_DebugWhileQuiet(benchmark::State& state) {
  oskel::Log::setVerbose(false);
  for (auto _ : state) {
    oskel::Log::debug([] { return std::string("never built"); });
  }
}
BENCHMARK(BM_DebugWhileQuiet);

static void BM_InfoToNullSink(benchmark::State& state) {
  auto previous = oskel::Log::setSink([](std::string_view line) { benchmark::DoNotOptimize(line.data()); });
  for (auto _ : state) {
    oskel::Log::info([] { return std::string("[en→es] session sess_123 ready"); });
  }
  oskel::Log::setSink(std::move(previous));
}
BENCHMARK(BM_InfoToNullSink);
