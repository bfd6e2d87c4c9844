// Measures the engine's block resamplers the way the pipeline uses them: 20 ms
// blocks, 48 kHz -> 24 kHz -> 48 kHz. Prints, for the pipeline's Resampler and
// for the LinearResampler that bridges device rates, the round-trip SNR with a
// 1 kHz sine and with white noise, aliasing of the 48 -> 24 kHz stage, images
// of the 24 -> 48 kHz stage, filter delay and samples held back between
// blocks. Cost is measured by bench_dsp.
//
//   build/bench/dsp/dsp_resampler_quality
#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdio>
#include <functional>
#include <memory>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "dsp/LinearResampler.h"
#include "dsp/Resampler.h"

namespace {

constexpr double pi = std::numbers::pi;
constexpr double highRate = 48000.0;
constexpr double lowRate = 24000.0;

using Block = std::vector<float>;
// One streaming conversion; called once per block.
using Stage = std::function<Block(std::span<const float>)>;
using StageFactory = std::function<Stage(double in, double out)>;

Stage linearStage(double in, double out) {
  auto r = std::make_shared<oskel::LinearResampler>(in, out);
  return [r](std::span<const float> x) {
    Block y(static_cast<size_t>(r->maxOutput(static_cast<int64_t>(x.size()))));
    y.resize(static_cast<size_t>(
        r->process(x.data(), static_cast<int64_t>(x.size()), y.data(), static_cast<int64_t>(y.size()))));
    return y;
  };
}

Stage engineStage(double in, double out) {
  auto r = std::make_shared<oskel::Resampler>(in, out);
  return [r](std::span<const float> x) { return r->process(x); };
}

struct Streamed {
  Block output;
  double maxHeldBack = 0;  // output samples owed after a block, worst case
};

// Runs a signal through a stage in 20 ms blocks.
Streamed stream(const Stage& stage, const Block& x, double in, double out) {
  Streamed s;
  const size_t block = static_cast<size_t>(in * 0.02);
  size_t consumed = 0;
  for (size_t at = 0; at + block <= x.size(); at += block) {
    Block y = stage(std::span<const float>(x.data() + at, block));
    s.output.insert(s.output.end(), y.begin(), y.end());
    consumed += block;
    const double owed = double(consumed) * out / in - double(s.output.size());
    s.maxHeldBack = std::max(s.maxHeldBack, owed);
  }
  return s;
}

Block sine(double freq, double rate, double seconds, double amplitude) {
  Block x(static_cast<size_t>(rate * seconds));
  for (size_t i = 0; i < x.size(); ++i) x[i] = float(amplitude * std::sin(2 * pi * freq * double(i) / rate));
  return x;
}

struct Fit {
  double amplitude;
  double phase;  // of sin(w t + phase)
  double residualPower;
};

// Least-squares fit of a sinusoid of known frequency plus offset, from sample
// `from` over whole periods (each tone here has a whole number of samples per
// period), where sine, cosine and offset are orthogonal.
Fit fitSine(const Block& y, double freq, double rate, size_t from) {
  const auto period = static_cast<size_t>(std::lround(rate / freq));
  const size_t end = from + (y.size() - from) / period * period;
  const double n = double(end - from);
  const auto w = [&](size_t i) { return 2 * pi * freq * double(i) / rate; };
  double ys = 0, yc = 0, y1 = 0;
  for (size_t i = from; i < end; ++i) {
    const double v = y[i];
    ys += v * std::sin(w(i));
    yc += v * std::cos(w(i));
    y1 += v;
  }
  const double a = 2 * ys / n, b = 2 * yc / n, offset = y1 / n;
  double residual = 0;
  for (size_t i = from; i < end; ++i) {
    const double e = double(y[i]) - (a * std::sin(w(i)) + b * std::cos(w(i)) + offset);
    residual += e * e;
  }
  return {std::hypot(a, b), std::atan2(b, a), residual / n};
}

double rmsFrom(const Block& y, size_t from) {
  double sum = 0;
  for (size_t i = from; i < y.size(); ++i) sum += double(y[i]) * double(y[i]);
  return std::sqrt(sum / double(y.size() - from));
}

double dB(double ratio) { return 20 * std::log10(std::max(ratio, 1e-12)); }

void fft(std::vector<std::complex<double>>& a) {
  const size_t n = a.size();
  for (size_t i = 1, j = 0; i < n; ++i) {
    size_t bit = n >> 1;
    for (; j & bit; bit >>= 1) j ^= bit;
    j ^= bit;
    if (i < j) std::swap(a[i], a[j]);
  }
  for (size_t len = 2; len <= n; len <<= 1) {
    const std::complex<double> step = std::polar(1.0, -2 * pi / double(len));
    for (size_t i = 0; i < n; i += len) {
      std::complex<double> w = 1;
      for (size_t k = 0; k < len / 2; ++k, w *= step) {
        const auto u = a[i + k], v = a[i + k + len / 2] * w;
        a[i + k] = u + v;
        a[i + k + len / 2] = u - v;
      }
    }
  }
}

// The FFT of n samples from x under a Hann window.
std::vector<std::complex<double>> hannSpectrum(const float* x, size_t n) {
  std::vector<std::complex<double>> f(n);
  for (size_t i = 0; i < n; ++i) f[i] = (0.5 - 0.5 * std::cos(2 * pi * double(i) / double(n))) * double(x[i]);
  fft(f);
  return f;
}

// Welch-averaged SNR of y against x over [0, maxHz]: the part of y coherent
// with x is signal, the rest is noise (linear filtering does not count).
double coherentSNR(const Block& x, const Block& y, double rate, double maxHz) {
  constexpr size_t n = 4096;
  std::vector<double> sxx(n / 2), syy(n / 2);
  std::vector<std::complex<double>> sxy(n / 2);
  const size_t length = std::min(x.size(), y.size());
  for (size_t at = 0; at + n <= length; at += n / 2) {
    const auto fx = hannSpectrum(x.data() + at, n), fy = hannSpectrum(y.data() + at, n);
    for (size_t k = 0; k < n / 2; ++k) {
      sxx[k] += std::norm(fx[k]);
      syy[k] += std::norm(fy[k]);
      sxy[k] += fy[k] * std::conj(fx[k]);
    }
  }
  double signal = 0, noise = 0;
  for (size_t k = 1; k < n / 2 && double(k) * rate / double(n) <= maxHz; ++k) {
    const double coherent = std::norm(sxy[k]) / sxx[k];
    signal += coherent;
    noise += std::max(syy[k] - coherent, 0.0);
  }
  return 10 * std::log10(signal / std::max(noise, 1e-300));
}

// Fraction of y's energy above `hz`, in dB relative to `reference` power.
double energyAbove(const Block& y, double rate, double hz, double referencePower, size_t from) {
  constexpr size_t n = 8192;
  double above = 0;
  int frames = 0;
  for (size_t at = from; at + n <= y.size(); at += n) {
    const auto f = hannSpectrum(y.data() + at, n);
    for (size_t k = 0; k < n / 2; ++k)
      if (double(k) * rate / double(n) > hz) above += 2 * std::norm(f[k]) / (double(n) * double(n) * 0.375);
    ++frames;
  }
  return 10 * std::log10(std::max(above / frames, 1e-30) / referencePower);
}

struct Candidate {
  std::string name;
  StageFactory make;
};

// Delay of a stage in milliseconds, from the phase of a 50 Hz tone.
double stageDelayMs(const StageFactory& make, double in, double out) {
  const double f = 50.0;
  const Streamed s = stream(make(in, out), sine(f, in, 1.0, 0.5), in, out);
  const Fit fit = fitSine(s.output, f, out, static_cast<size_t>(out * 0.2));
  double lag = -fit.phase / (2 * pi * f);  // input phase is 0
  while (lag < -0.005) lag += 1 / f;
  return lag * 1000.0;
}

void measure(const Candidate& c) {
  // Stage delays and hold-back.
  const double downDelay = stageDelayMs(c.make, highRate, lowRate);
  const double upDelay = stageDelayMs(c.make, lowRate, highRate);

  // Aliasing of 48 -> 24: tones above 12 kHz fold into the band.
  double worstAlias = -300, worstAliasAbove14 = -300;
  for (double f = 12500; f <= 23500; f += 250) {
    const Streamed s = stream(c.make(highRate, lowRate), sine(f, highRate, 0.5, 0.5), highRate, lowRate);
    const double level = dB(rmsFrom(s.output, 2400) / (0.5 / std::sqrt(2.0)));
    worstAlias = std::max(worstAlias, level);
    if (f >= 14000) worstAliasAbove14 = std::max(worstAliasAbove14, level);
  }
  // Images of 24 -> 48: tones up to 10 kHz must not leave energy above 14 kHz.
  double worstImage = -300;
  for (double f = 500; f <= 10000; f += 500) {
    const Streamed s = stream(c.make(lowRate, highRate), sine(f, lowRate, 0.5, 0.5), lowRate, highRate);
    worstImage = std::max(worstImage, energyAbove(s.output, highRate, 14000, 0.125, 4800));
  }

  // Round trip with a 1 kHz sine.
  const Block tone = sine(1000, highRate, 3.0, 0.5);
  const Streamed down = stream(c.make(highRate, lowRate), tone, highRate, lowRate);
  const Streamed back = stream(c.make(lowRate, highRate), down.output, lowRate, highRate);
  const Fit fit = fitSine(back.output, 1000, highRate, static_cast<size_t>(highRate * 0.2));
  const double sineSNR = 10 * std::log10(fit.amplitude * fit.amplitude / 2 / fit.residualPower);
  const double sineAbove12 = energyAbove(back.output, highRate, 12000, fit.amplitude * fit.amplitude / 2, 9600);

  // Round trip with white noise: coherent SNR over 0-10 kHz, after lining up the delay.
  std::mt19937 rng(7);
  std::normal_distribution<float> gauss(0.0f, 0.2f);
  Block noise(static_cast<size_t>(highRate * 4));
  for (auto& v : noise) v = gauss(rng);
  const Streamed noiseDown = stream(c.make(highRate, lowRate), noise, highRate, lowRate);
  const Streamed noiseBack = stream(c.make(lowRate, highRate), noiseDown.output, lowRate, highRate);
  const auto shift = static_cast<size_t>(std::lround((downDelay + upDelay) * highRate / 1000.0));
  Block aligned(noiseBack.output.begin() + static_cast<long>(std::min(shift, noiseBack.output.size())),
                noiseBack.output.end());
  const double noiseSNR = coherentSNR(noise, aligned, highRate, 10000);

  const double heldDown = down.maxHeldBack / lowRate * 1000.0;
  const double heldUp = back.maxHeldBack / highRate * 1000.0;
  std::printf("%-22s %7.1f %7.1f %8.1f %8.1f %8.1f %8.1f | %5.2f %5.2f | %5.2f %5.2f | %5.2f %5.2f\n", c.name.c_str(),
              sineSNR, noiseSNR, worstAlias, worstAliasAbove14, worstImage, sineAbove12, downDelay, upDelay, heldDown,
              heldUp, downDelay + heldDown, upDelay + heldUp);
}

}  // namespace

int main() {
  const std::vector<Candidate> candidates = {
      {"engine Resampler (q" + std::to_string(oskel::Resampler::quality) + ")", engineStage},
      {"LinearResampler", linearStage}};
  std::printf("Round trip 48k->24k->48k in 20 ms blocks. Levels in dB; delays and hold-back in ms.\n");
  std::printf("%-22s %7s %7s %8s %8s %8s %8s | %11s | %11s | %11s\n", "candidate", "SNRsine", "SNRnois", "alias",
              "alias14k", "image14k", "rt>12k", "delay dn/up", "held dn/up", "total dn/up");
  for (const auto& c : candidates) measure(c);
  std::printf(
      "\nSNRsine: 1 kHz at -6 dBFS, fitted tone against everything else. SNRnois: white noise, coherent\n"
      "part against the rest over 0-10 kHz. alias: worst output of a 48->24 stage for tones 12.5-23.5 kHz\n"
      "relative to the tone (alias14k: tones from 14 kHz, whose aliases land below 10 kHz). image14k: worst\n"
      "energy above 14 kHz after 24->48 of tones 0.5-10 kHz. rt>12k: round-trip energy above 12 kHz with the\n"
      "1 kHz tone. held: output owed after a block (worst). total: filter delay + hold-back.\n");
  return 0;
}
