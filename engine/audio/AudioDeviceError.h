#pragma once

#include <string>
#include <variant>
#include <vector>

namespace oskel {

// Why a device query did not resolve to exactly one device.
struct AudioDeviceError {
  struct NotFound {
    std::string query;
    std::vector<std::string> candidates;  // names the direction allowed, in catalogue order
    bool operator==(const NotFound&) const = default;
  };
  struct Ambiguous {
    std::string query;
    std::vector<std::string> matches;  // one line per matching device
    bool operator==(const Ambiguous&) const = default;
  };

  std::variant<NotFound, Ambiguous> value;

  static AudioDeviceError notFound(std::string query, std::vector<std::string> candidates) {
    return {NotFound{std::move(query), std::move(candidates)}};
  }
  static AudioDeviceError ambiguous(std::string query, std::vector<std::string> matches) {
    return {Ambiguous{std::move(query), std::move(matches)}};
  }

  std::string description() const;
  bool operator==(const AudioDeviceError&) const = default;
};

}  // namespace oskel
