#pragma once

#include <expected>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/AudioHostError.h"

// Files of our own that bring the two loopback devices back at every start
// of the user's audio server, without touching the user's own configuration:
//   PipeWire:   pipewire/pipewire-pulse.conf.d/oskel-loopback.conf
//               (pipewire-pulse loads its pulse.cmd modules at start)
//   PulseAudio: systemd/user/pulseaudio.service.d/oskel-loopback.conf
//               (the user's service manager runs its ExecStartPost pactl
//               commands after every start of the server)
// Both are written whatever server runs now, so a later switch keeps them.
namespace oskel::Pulse::LoopbackPersistence {

// $XDG_CONFIG_HOME, else ~/.config.
std::filesystem::path defaultConfigRoot();
std::vector<std::filesystem::path> files(const std::filesystem::path& configRoot);

// The files' text.
std::expected<std::string, AudioHostError> pipewireFragment();
std::expected<std::string, AudioHostError> systemdDropIn();

// Writes (or rewrites) both files; returns their paths.
std::expected<std::vector<std::filesystem::path>, AudioHostError> write(const std::filesystem::path& configRoot);
// Removes the files that exist (and their folder when that is left empty);
// returns the removed paths.
std::expected<std::vector<std::filesystem::path>, AudioHostError> remove(const std::filesystem::path& configRoot);

}  // namespace oskel::Pulse::LoopbackPersistence
