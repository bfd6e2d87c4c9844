// Throughput of the signal-processing operations, as CPU time per sample, and
// the cost of one direction's whole chain per second of audio.
//
//   build/bench/dsp/bench_dsp
#include <benchmark/benchmark.h>
#include <soxr.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/Ducker.h"
#include "dsp/FloatRingBuffer.h"
#include "dsp/InputNormalizer.h"
#include "dsp/JitterBuffer.h"
#include "dsp/LinearResampler.h"
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

// Reports CPU time per sample ("per_sample", printed with its unit).
void perSample(benchmark::State& state, int64_t samplesPerIteration) {
  state.counters["per_sample"] = benchmark::Counter(static_cast<double>(state.iterations()) * double(samplesPerIteration),
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_RingWriteRead(benchmark::State& state) {
  const auto n = state.range(0);
  FloatRingBuffer ring(48000);
  const auto in = noise(size_t(n));
  std::vector<float> out(static_cast<size_t>(n));
  for (auto _ : state) {
    ring.write(in);
    benchmark::DoNotOptimize(ring.read(out));
  }
  perSample(state, n);
}
BENCHMARK(BM_RingWriteRead)->Arg(128)->Arg(512);

void BM_JitterRead(benchmark::State& state) {
  const auto n = state.range(0);
  JitterBuffer jitter(48000, 5760, 48000);
  const auto in = noise(size_t(n));
  std::vector<float> out(static_cast<size_t>(n));
  for (int i = 0; i < 20; ++i) jitter.write(noise(480));
  for (auto _ : state) {
    jitter.write(in);
    benchmark::DoNotOptimize(jitter.read(out));
  }
  perSample(state, n);
}
BENCHMARK(BM_JitterRead)->Arg(128)->Arg(512);

void BM_PCM16Encode(benchmark::State& state) {
  const auto in = noise(2400);
  std::vector<uint8_t> out(4800);
  for (auto _ : state) {
    PCM16::encode(in, out.data());
    benchmark::ClobberMemory();
  }
  perSample(state, 2400);
}
BENCHMARK(BM_PCM16Encode);

void BM_PCM16EncodeAllocating(benchmark::State& state) {
  const auto in = noise(2400);
  for (auto _ : state) benchmark::DoNotOptimize(PCM16::encode(in));
  perSample(state, 2400);
}
BENCHMARK(BM_PCM16EncodeAllocating);

void BM_PCM16Decode(benchmark::State& state) {
  const auto bytes = PCM16::encode(noise(2400));
  for (auto _ : state) benchmark::DoNotOptimize(PCM16::decode(bytes));
  perSample(state, 2400);
}
BENCHMARK(BM_PCM16Decode);

void BM_dBFS(benchmark::State& state) {
  const auto in = noise(960);
  for (auto _ : state) benchmark::DoNotOptimize(PCM16::dBFS(in));
  perSample(state, 960);
}
BENCHMARK(BM_dBFS);

void BM_LinearResample(benchmark::State& state) {
  const double from = double(state.range(0));
  const double to = double(state.range(1));
  LinearResampler r(from, to);
  const auto in = noise(512);
  std::vector<float> out(size_t(r.maxOutput(512)));
  for (auto _ : state) benchmark::DoNotOptimize(r.process(in.data(), 512, out.data(), int64_t(out.size())));
  perSample(state, 512);
}
BENCHMARK(BM_LinearResample)->Args({44100, 48000})->Args({48000, 24000})->Args({48000, 44100});

// The block resampler on 20 ms blocks, per input sample.
void BM_Resampler(benchmark::State& state) {
  const double from = double(state.range(0));
  const double to = double(state.range(1));
  Resampler r(from, to);
  const auto block = noise(size_t(from * 0.02));
  for (auto _ : state) benchmark::DoNotOptimize(r.process(block));
  perSample(state, int64_t(block.size()));
}
BENCHMARK(BM_Resampler)->Args({48000, 24000})->Args({24000, 48000})->Args({44100, 24000})->Args({24000, 44100});

void BM_Soxr(benchmark::State& state) {
  const double from = double(state.range(0));
  const double to = double(state.range(1));
  const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
  const soxr_quality_spec_t q = soxr_quality_spec(SOXR_HQ, 0);
  soxr_t s = soxr_create(from, to, 1, nullptr, &io, &q, nullptr);
  const auto block = noise(size_t(from * 0.02));
  std::vector<float> out(block.size() * 3 + 4096);
  for (auto _ : state) {
    size_t done = 0, produced = 0;
    soxr_process(s, block.data(), block.size(), &done, out.data(), out.size(), &produced);
    benchmark::DoNotOptimize(produced);
  }
  soxr_delete(s);
  perSample(state, int64_t(block.size()));
}
BENCHMARK(BM_Soxr)->Args({48000, 24000})->Args({24000, 48000});

void BM_DuckerMix(benchmark::State& state) {
  Ducker d(-6, -18.0f, 48000, 0.02, 0.25, 0.3);
  const auto voice = noise(512);
  auto out = noise(512);
  bool active = false;
  for (auto _ : state) {
    d.mix(voice.data(), out.data(), 512, active = !active);
    benchmark::ClobberMemory();
  }
  perSample(state, 512);
}
BENCHMARK(BM_DuckerMix);

void BM_Normalizer(benchmark::State& state) {
  InputNormalizer n(-20, 18, -55, 0.02, InputNormalizer::Response::call);
  const auto block = noise(960);
  for (auto _ : state) benchmark::DoNotOptimize(n.process(block));
  perSample(state, 960);
}
BENCHMARK(BM_Normalizer);

// One direction of translation at 48 kHz, 20 ms per iteration: capture
// callbacks fill the ring, the encoder drains, measures, gates, normalises and
// resamples to 24 kHz and encodes; translated audio is decoded, measured,
// resampled to 48 kHz and buffered; render callbacks play it with the ducked
// voice-over. "per_audio_second" is the CPU time per second of audio: 2 ms
// is 0.2 % of one core.
void BM_DirectionChain(benchmark::State& state) {
  FloatRingBuffer capture(480000);
  JitterBuffer translation(48000 * 10, 5760, 48000 * 2);
  JitterBuffer voiceOver(48000 * 10, 5760, 48000 * 2);
  Resampler toService(48000, 24000);
  Resampler fromService(24000, 48000);
  InputNormalizer normalizer(-20, 18, -55, 0.02, InputNormalizer::Response::call);
  SilenceGate gate(-50, 30);
  OutputStallWatch watch(-35, 8, 30, 1.5, false);
  Ducker ducker(-6, -18.0f, 48000, 0.02, 0.25, 0.3);
  const auto speech = noise(960);
  const auto reply = PCM16::encode(noise(480));
  std::vector<float> render(480), mixScratch(480);
  double t = 0;
  for (auto _ : state) {
    capture.write(speech.data(), 480);  // two capture callbacks
    capture.write(speech.data() + 480, 480);
    auto block = capture.drain(960);
    voiceOver.write(block);  // 48 kHz voice-over needs no resampling
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
  perSample(state, 960);
  state.counters["per_audio_second"] = benchmark::Counter(static_cast<double>(state.iterations()) * 0.02,
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DirectionChain);

// The same chain with a 44.1 kHz device on both ends (speexdsp's interpolated
// filter table for the 147:80 ratio costs several times more than 2:1).
void BM_DirectionChain44k(benchmark::State& state) {
  Resampler toService(44100, 24000);
  Resampler fromService(24000, 44100);
  const auto speech = noise(882);
  const auto reply = PCM16::decode(PCM16::encode(noise(480)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(PCM16::encode(toService.process(speech)));
    benchmark::DoNotOptimize(fromService.process(reply));
  }
  state.counters["resampling_per_audio_second"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * 0.02, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DirectionChain44k);

}  // namespace
