#include "dsp/PCM16.h"

#include <cmath>
#include <cstring>

namespace oskel::PCM16 {

namespace {

// Mean of the squares, summed four lanes at a time so the loop vectorises.
float meanSquare(std::span<const float> samples) noexcept {
  const size_t n = samples.size();
  float lanes[4] = {0.0f, 0.0f, 0.0f, 0.0f};
  size_t i = 0;
  for (; i + 4 <= n; i += 4)
    for (size_t k = 0; k < 4; ++k) lanes[k] += samples[i + k] * samples[i + k];
  float sum = (lanes[0] + lanes[1]) + (lanes[2] + lanes[3]);
  for (; i < n; ++i) sum += samples[i] * samples[i];
  return sum / static_cast<float>(n);
}

}  // namespace

void encode(std::span<const float> samples, uint8_t* out) noexcept {
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto v = static_cast<uint16_t>(encodeSample(samples[i]));
    out[2 * i] = static_cast<uint8_t>(v & 0xFF);
    out[2 * i + 1] = static_cast<uint8_t>(v >> 8);
  }
}

std::vector<uint8_t> encode(std::span<const float> samples) {
  std::vector<uint8_t> bytes(2 * samples.size());
  encode(samples, bytes.data());
  return bytes;
}

std::vector<float> decode(std::span<const uint8_t> bytes) {
  std::vector<float> samples(bytes.size() / 2);
  for (size_t i = 0; i < samples.size(); ++i) {
    const auto raw = static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    samples[i] = decodeSample(static_cast<int16_t>(raw));
  }
  return samples;
}

float rms(std::span<const float> samples) noexcept {
  if (samples.empty()) return 0.0f;
  return std::sqrt(meanSquare(samples));
}

float dBFS(std::span<const float> samples) noexcept {
  if (samples.empty()) return -120.0f;
  const float m = meanSquare(samples);
  if (!(m > 0.0f)) return -120.0f;
  return 20.0f * std::log10(std::sqrt(m));
}

}  // namespace oskel::PCM16
