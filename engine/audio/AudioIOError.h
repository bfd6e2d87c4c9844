#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace oskel {

// Why a capture or playback endpoint could not be built or started.
struct AudioIOError {
  struct NoStreams {
    std::string device;
    std::string direction;  // "input" or "output"
    bool operator==(const NoStreams&) const = default;
  };
  struct UnsupportedFormat {
    std::string device;
    std::string detail;
    bool operator==(const UnsupportedFormat&) const = default;
  };
  // A call into the audio host failed; status is the host's own code.
  struct CoreAudio {
    std::string operation;
    int32_t status = 0;
    bool operator==(const CoreAudio&) const = default;
  };

  std::variant<NoStreams, UnsupportedFormat, CoreAudio> value;

  static AudioIOError noStreams(std::string device, std::string direction) {
    return {NoStreams{std::move(device), std::move(direction)}};
  }
  static AudioIOError unsupportedFormat(std::string device, std::string detail) {
    return {UnsupportedFormat{std::move(device), std::move(detail)}};
  }
  static AudioIOError coreAudio(std::string operation, int32_t status) {
    return {CoreAudio{std::move(operation), status}};
  }

  std::string description() const;
  bool operator==(const AudioIOError&) const = default;
};

}  // namespace oskel
