#include "audio/AudioIOError.h"

#include <fmt/format.h>

namespace oskel {

std::string AudioIOError::description() const {
  struct Describe {
    std::string operator()(const NoStreams& e) const {
      return e.device + " has no " + e.direction + " streams";
    }
    std::string operator()(const UnsupportedFormat& e) const {
      return e.device + ": unsupported stream format (" + e.detail +
             "); expected 32-bit float interleaved PCM";
    }
    std::string operator()(const CoreAudio& e) const {
      return fmt::format("{} failed (OSStatus {})", e.operation, e.status);
    }
  };
  return std::visit(Describe{}, value);
}

}  // namespace oskel
