#pragma once

#include <expected>
#include <span>
#include <string>
#include <vector>

#include "audio/LoopbackHost.h"

// The two loopback devices a call runs through: "Oskel Microphone" (the
// engine plays the translation into it; the call program records it) and
// "Oskel Speaker" (the call program plays into it; the engine records it).
namespace oskel::LoopbackDevices {

std::span<const LoopbackDeviceSpec> specs();

struct Change {
  std::vector<std::string> changed;  // names of the devices that were created or removed
};

// Both calls are idempotent: what is already in place is left alone.
std::expected<Change, AudioHostError> install(LoopbackHost& host);
std::expected<Change, AudioHostError> remove(LoopbackHost& host);

}  // namespace oskel::LoopbackDevices
