#include "audio/AudioStreamFormat.h"

#include <fmt/format.h>

namespace oskel {

std::expected<void, AudioIOError> validateFloat32Interleaved(const AudioStreamFormat& format,
                                                              const std::string& device) {
  const bool usable = format.formatID == AudioStreamFormat::linearPCM &&
                      (format.formatFlags & AudioStreamFormat::flagIsFloat) != 0 &&
                      (format.formatFlags & AudioStreamFormat::flagIsNonInterleaved) == 0 &&
                      format.bitsPerChannel == 32;
  if (usable) return {};
  return std::unexpected(AudioIOError::unsupportedFormat(
      device, fmt::format("formatID={} flags={} bits={}", format.formatID, format.formatFlags,
                          format.bitsPerChannel)));
}

}  // namespace oskel
