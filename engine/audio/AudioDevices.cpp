#include "audio/AudioDevices.h"

#include <fmt/format.h>

#include "audio/UnicodeLowercase.h"

namespace oskel::AudioDevices {
namespace {

std::optional<AudioDeviceInfo> fromHost(const AudioHostDevice& device) {
  if (!device.name) return std::nullopt;
  return AudioDeviceInfo{
      .id = device.id,
      .uid = device.uid.value_or(""),
      .name = *device.name,
      .manufacturer = device.manufacturer.value_or(""),
      .inputChannels = device.inputChannels,
      .outputChannels = device.outputChannels,
      .nominalSampleRate = device.nominalSampleRate.value_or(0.0),
      .transportType = device.transportType.value_or(0),
  };
}

bool allowed(const AudioDeviceInfo& device, Direction direction) {
  switch (direction) {
    case Direction::input: return device.inputChannels > 0;
    case Direction::output: return device.outputChannels > 0;
    case Direction::any: return true;
  }
  return true;
}

std::string matchLine(const AudioDeviceInfo& device) {
  return fmt::format("{} [in {}/out {}, uid {}]", device.name, device.inputChannels,
                     device.outputChannels, device.uid);
}

// One match resolves; several are ambiguous; none defers to the next rule.
std::optional<std::expected<AudioDeviceInfo, AudioDeviceError>> resolve(
    const std::vector<const AudioDeviceInfo*>& matches, std::string_view query) {
  if (matches.empty()) return std::nullopt;
  if (matches.size() == 1) return *matches.front();
  std::vector<std::string> lines;
  for (const auto* device : matches) lines.push_back(matchLine(*device));
  return std::unexpected(AudioDeviceError::ambiguous(std::string(query), std::move(lines)));
}

std::optional<AudioDeviceInfo> defaultFor(AudioHost& host, AudioScope scope) {
  const auto id = host.defaultDevice(scope);
  if (!id) return std::nullopt;
  return info(host, *id);
}

}  // namespace

std::vector<AudioDeviceInfo> all(AudioHost& host) {
  std::vector<AudioDeviceInfo> result;
  for (const auto& device : host.devices()) {
    if (auto info = fromHost(device)) result.push_back(std::move(*info));
  }
  return result;
}

std::optional<AudioDeviceInfo> info(AudioHost& host, AudioDeviceID id) {
  const auto device = host.device(id);
  if (!device) return std::nullopt;
  return fromHost(*device);
}

std::optional<AudioDeviceInfo> defaultInput(AudioHost& host) { return defaultFor(host, AudioScope::input); }

std::optional<AudioDeviceInfo> defaultOutput(AudioHost& host) {
  return defaultFor(host, AudioScope::output);
}

std::expected<AudioDeviceInfo, AudioDeviceError> find(AudioHost& host, std::string_view query,
                                                      Direction direction) {
  std::vector<AudioDeviceInfo> candidates;
  for (auto& device : all(host)) {
    if (allowed(device, direction)) candidates.push_back(std::move(device));
  }
  for (const auto& device : candidates) {
    if (device.uid == query) return device;
  }

  const std::string lowered = unicodeLowercase(query);
  std::vector<const AudioDeviceInfo*> whole;
  std::vector<const AudioDeviceInfo*> partial;
  for (const auto& device : candidates) {
    const std::string name = unicodeLowercase(device.name);
    if (name == lowered) whole.push_back(&device);
    if (name.find(lowered) != std::string::npos) partial.push_back(&device);
  }
  if (auto found = resolve(whole, query)) return std::move(*found);
  if (auto found = resolve(partial, query)) return std::move(*found);

  std::vector<std::string> names;
  for (const auto& device : candidates) names.push_back(device.name);
  return std::unexpected(AudioDeviceError::notFound(std::string(query), std::move(names)));
}

}  // namespace oskel::AudioDevices
