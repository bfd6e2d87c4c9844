#include "audio/pulse/PulseLoopbackModules.h"

#include <algorithm>
#include <cctype>

#include <fmt/format.h>

namespace oskel::Pulse::LoopbackModules {
namespace {

// Module arguments have their own quoting; rather than escape, refuse what
// would need it. Node names stay plain identifiers.
std::expected<void, AudioHostError> check(const LoopbackDeviceSpec& spec) {
  const bool plainUID = !spec.uid.empty() && std::ranges::all_of(spec.uid, [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
  });
  if (!plainUID) {
    return std::unexpected(AudioHostError{fmt::format(
        "loopback device UID \"{}\" must be letters, digits, '_', '-' or '.'", spec.uid)});
  }
  const bool plainName = !spec.name.empty() && std::ranges::none_of(spec.name, [](char c) {
    return c == '"' || c == '\'' || c == '\\' || static_cast<unsigned char>(c) < 0x20;
  });
  if (!plainName) {
    return std::unexpected(
        AudioHostError{fmt::format("loopback device name \"{}\" must not contain quotes or backslashes", spec.name)});
  }
  return {};
}

// Low session priority keeps a session manager from making the device the
// default input or output on its own.
std::string properties(const LoopbackDeviceSpec& spec, const std::string& extra) {
  return fmt::format("'device.description=\"{}\" device.vendor.name=Oskel priority.session=-100{}'", spec.name,
                     extra);
}

constexpr const char* layout = "format=float32le rate=48000 channels=2 channel_map=front-left,front-right";

}  // namespace

std::string sourceName(const std::string& uid) { return uid + ".source"; }
std::string monitorName(const std::string& uid) { return uid + ".monitor"; }

std::expected<std::string, AudioHostError> nullSinkArguments(const LoopbackDeviceSpec& spec) {
  if (auto ok = check(spec); !ok) return std::unexpected(ok.error());
  return fmt::format("sink_name={} sink_properties={} {}", spec.uid, properties(spec, ""), layout);
}

std::expected<std::string, AudioHostError> remapSourceArguments(const LoopbackDeviceSpec& spec) {
  if (auto ok = check(spec); !ok) return std::unexpected(ok.error());
  // The server records the master itself on PulseAudio; PipeWire does not,
  // and the catalogue pairs the two halves through it.
  const std::string monitor = monitorName(spec.uid);
  return fmt::format("master={} source_name={} source_properties={} {}", monitor, sourceName(spec.uid),
                     properties(spec, " device.master_device=" + monitor), layout);
}

}  // namespace oskel::Pulse::LoopbackModules
