#pragma once

#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "audio/AudioDeviceError.h"
#include "audio/AudioDeviceInfo.h"
#include "audio/AudioHost.h"

// The device catalogue: reads the host afresh on every call and keeps nothing.
namespace oskel::AudioDevices {

inline constexpr std::string_view oskelMicrophoneUID = "OskelMicrophone_UID";
inline constexpr std::string_view oskelSpeakerUID = "OskelSpeaker_UID";

enum class Direction { input, output, any };

// Every device with a readable name, in the host's order.
std::vector<AudioDeviceInfo> all(AudioHost& host);
// Absent when the device is unknown or has no readable name.
std::optional<AudioDeviceInfo> info(AudioHost& host, AudioDeviceID id);
std::optional<AudioDeviceInfo> defaultInput(AudioHost& host);
std::optional<AudioDeviceInfo> defaultOutput(AudioHost& host);

// Resolves a UID (exact, case-sensitive) or a name (whole name first, then
// substring, both case-insensitive) among the devices of a direction.
std::expected<AudioDeviceInfo, AudioDeviceError> find(AudioHost& host, std::string_view query,
                                                      Direction direction);

}  // namespace oskel::AudioDevices
