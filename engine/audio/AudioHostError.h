#pragma once

#include <string>

namespace oskel {

// Trouble reaching or changing the audio server itself (not one stream):
// what was tried and what the server said, ready to show unchanged.
struct AudioHostError {
  std::string message;

  const std::string& description() const { return message; }
  bool operator==(const AudioHostError&) const = default;
};

}  // namespace oskel
