#pragma once

#include <cstdint>
#include <expected>
#include <string>

#include "audio/AudioIOError.h"
#include "audio/FourCC.h"

namespace oskel {

// The sample layout of one device stream as the host presents it to a client.
struct AudioStreamFormat {
  static constexpr uint32_t linearPCM = fourCC("lpcm");
  static constexpr uint32_t flagIsFloat = 1u << 0;
  static constexpr uint32_t flagIsPacked = 1u << 3;
  static constexpr uint32_t flagIsNonInterleaved = 1u << 5;

  double sampleRate = 0;
  uint32_t formatID = 0;
  uint32_t formatFlags = 0;
  uint32_t bitsPerChannel = 0;
  uint32_t channelsPerFrame = 0;

  // Interleaved 32-bit float PCM, the only layout the endpoints take.
  static AudioStreamFormat float32(double sampleRate, uint32_t channels) {
    return {sampleRate, linearPCM, flagIsFloat | flagIsPacked, 32, channels};
  }
  bool operator==(const AudioStreamFormat&) const = default;
};

// Accepts interleaved 32-bit float linear PCM; anything else would be read as
// garbage, so it is refused with unsupportedFormat naming the three numbers.
std::expected<void, AudioIOError> validateFloat32Interleaved(const AudioStreamFormat& format,
                                                              const std::string& device);

}  // namespace oskel
