#include "audio/LoopbackDevices.h"

#include <array>

#include "audio/AudioDevices.h"

namespace oskel::LoopbackDevices {

std::span<const LoopbackDeviceSpec> specs() {
  static const std::array<LoopbackDeviceSpec, 2> devices{{
      {std::string(AudioDevices::oskelMicrophoneUID), "Oskel Microphone"},
      {std::string(AudioDevices::oskelSpeakerUID), "Oskel Speaker"},
  }};
  return devices;
}

std::expected<Change, AudioHostError> install(LoopbackHost& host) {
  Change change;
  for (const auto& spec : specs()) {
    auto created = host.installLoopbackDevice(spec);
    if (!created) return std::unexpected(created.error());
    if (*created) change.changed.push_back(spec.name);
  }
  return change;
}

std::expected<Change, AudioHostError> remove(LoopbackHost& host) {
  Change change;
  for (const auto& spec : specs()) {
    auto removed = host.removeLoopbackDevice(spec.uid);
    if (!removed) return std::unexpected(removed.error());
    if (*removed) change.changed.push_back(spec.name);
  }
  return change;
}

}  // namespace oskel::LoopbackDevices
