#pragma once

#include <expected>
#include <string>
#include <string_view>

#include "audio/AudioHostError.h"

namespace oskel {

// A device whose output comes back on its input, so that a call program can
// record what the engine plays and the engine can record what it plays.
struct LoopbackDeviceSpec {
  std::string uid;
  std::string name;
};

// A host on which the engine can create and remove loopback devices itself.
class LoopbackHost {
 public:
  virtual ~LoopbackHost() = default;
  // Creates what is missing of the device; true when anything was created.
  // Never changes the default input or output.
  virtual std::expected<bool, AudioHostError> installLoopbackDevice(const LoopbackDeviceSpec& spec) = 0;
  // Removes every part of the device; true when anything was removed.
  virtual std::expected<bool, AudioHostError> removeLoopbackDevice(std::string_view uid) = 0;
};

}  // namespace oskel
