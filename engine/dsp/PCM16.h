#pragma once

#include <cstdint>
#include <span>
#include <vector>

// Conversion between the engine's float samples and 16-bit signed little-endian
// PCM (the translation service's and the recordings' format), and levels.
// Encoding scales by 32767 and decoding by 1/32768: full scale +1.0 comes back
// as 32767/32768, and -32768 is never produced.
namespace oskel::PCM16 {

// One sample: values at or above 1.0 (and NaN) give 32767, values at or below
// -1.0 give -32767, everything else x * 32767 rounded half away from zero.
inline int16_t encodeSample(float x) noexcept {
  if (!(x < 1.0f)) return 32767;
  const float scaled = (x < -1.0f ? -1.0f : x) * 32767.0f;
  int v = static_cast<int>(scaled);  // toward zero; the fraction is exact
  const float fraction = scaled - static_cast<float>(v);
  if (fraction >= 0.5f) ++v;
  else if (fraction <= -0.5f) --v;
  return static_cast<int16_t>(v);
}

inline float decodeSample(int16_t s) noexcept { return static_cast<float>(s) * 3.0517578e-5f; }

// Writes 2 * samples.size() bytes to `out` without allocating.
void encode(std::span<const float> samples, uint8_t* out) noexcept;
std::vector<uint8_t> encode(std::span<const float> samples);

// bytes.size() / 2 samples; a trailing odd byte is ignored.
std::vector<float> decode(std::span<const uint8_t> bytes);

// Linear RMS; 0 for no samples.
float rms(std::span<const float> samples) noexcept;

// 20 * log10(RMS); -120 for no samples or digital silence. A faint but
// non-silent block may measure below -120.
float dBFS(std::span<const float> samples) noexcept;

}  // namespace oskel::PCM16
