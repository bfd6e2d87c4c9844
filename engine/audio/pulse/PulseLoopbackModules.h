#pragma once

#include <expected>
#include <string>

#include "audio/LoopbackHost.h"

// The audio-server modules that make one loopback device: a null sink named
// with the device's UID (what is played into the device) and a source
// remapped over its monitor (what a call program records: programs hide
// monitor sources, so the monitor itself would not be offered as a microphone).
namespace oskel::Pulse::LoopbackModules {

std::string sourceName(const std::string& uid);
std::string monitorName(const std::string& uid);

// Module arguments, or why the device description cannot be passed to the server safely.
std::expected<std::string, AudioHostError> nullSinkArguments(const LoopbackDeviceSpec& spec);
std::expected<std::string, AudioHostError> remapSourceArguments(const LoopbackDeviceSpec& spec);

}  // namespace oskel::Pulse::LoopbackModules
