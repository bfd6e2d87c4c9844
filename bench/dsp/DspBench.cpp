// The signal processing of one translation direction, as CPU time per second
// of audio: "per_audio_second" of 2 ms is 0.2 % of one core. The argument is
// the device rate on both ends: 48 kHz, and 44.1 kHz, whose 147:80 ratio to
// the service's 24 kHz costs speexdsp's interpolated filter table several
// times more than 2:1. Each stage's own cost shows in a profile of this run.
//
//   build/bench/dsp/bench_dsp
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "dsp/Ducker.h"
#include "dsp/FloatRingBuffer.h"
#include "dsp/InputNormalizer.h"
#include "dsp/JitterBuffer.h"
#include "dsp/OutputStallWatch.h"
#include "dsp/PCM16.h"
#include "dsp/Resampler.h"
#include "dsp/SilenceGate.h"

namespace {

using namespace oskel;

std::vector<float> noise(size_t n) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> d(-0.5f, 0.5f);
  std::vector<float> v(n);
  for (auto& x : v) x = d(rng);
  return v;
}

// 20 ms per iteration: capture callbacks fill the ring, the encoder drains,
// measures, gates, normalises and resamples to 24 kHz and encodes; translated
// audio is decoded, measured, resampled to the device rate and buffered;
// render callbacks play it with the ducked voice-over.
void BM_DirectionChain(benchmark::State& state) {
  const auto rate = static_cast<double>(state.range(0));
  const auto period = static_cast<int64_t>(rate / 100);  // one 10 ms callback
  const auto buffered = [&](double seconds) { return static_cast<int64_t>(rate * seconds); };
  FloatRingBuffer capture(buffered(10));
  JitterBuffer translation(buffered(10), buffered(0.12), buffered(2));
  JitterBuffer voiceOver(buffered(10), buffered(0.12), buffered(2));
  Resampler toService(rate, 24000);
  Resampler fromService(24000, rate);
  InputNormalizer normalizer(-20, 18, -55, 0.02, InputNormalizer::Response::call);
  SilenceGate gate(-50, 30);
  OutputStallWatch watch(-35, 8, 30, 1.5, false);
  Ducker ducker(-6, -18.0f, rate, 0.02, 0.25, 0.3);
  const auto speech = noise(static_cast<size_t>(2 * period));
  const auto reply = PCM16::encode(noise(480));
  std::vector<float> render(static_cast<size_t>(period)), mixScratch(static_cast<size_t>(period));
  double t = 0;
  for (auto _ : state) {
    capture.write(speech.data(), period);  // two capture callbacks
    capture.write(speech.data() + period, period);
    auto block = capture.drain(2 * period);
    voiceOver.write(block);  // the voice-over plays at the capture rate: no resampling
    const float level = PCM16::dBFS(block);
    gate.update(level, wallTimeAt(t));
    watch.update(level, wallTimeAt(t));
    auto normalized = normalizer.process(std::move(block));
    auto down = toService.process(std::move(normalized));
    benchmark::DoNotOptimize(PCM16::encode(down));
    const auto decoded = PCM16::decode(reply);  // a 20 ms delta back
    benchmark::DoNotOptimize(PCM16::dBFS(decoded));
    translation.write(fromService.process(decoded));
    for (int callback = 0; callback < 2; ++callback) {
      const int64_t got = translation.read(render);
      const int64_t v = voiceOver.read(mixScratch);
      ducker.mix(mixScratch.data(), render.data(), v, got > 0);
      benchmark::ClobberMemory();
    }
    t += 0.02;
  }
  state.counters["per_audio_second"] = benchmark::Counter(static_cast<double>(state.iterations()) * 0.02,
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DirectionChain)->ArgName("rate")->Arg(48000)->Arg(44100);

}  // namespace
