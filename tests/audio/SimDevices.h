#pragma once

#include <optional>
#include <string>

#include "audio/sim/SimulatedAudioHost.h"

namespace oskel::test {

// A simulated device with one stream per direction that has channels.
inline SimulatedAudioHost::Device simDevice(std::string name, std::string uid, uint32_t inputChannels,
                                            uint32_t outputChannels, double rate = 48000.0,
                                            std::optional<uint32_t> transport = std::nullopt) {
  SimulatedAudioHost::Device device;
  device.name = std::move(name);
  device.uid = std::move(uid);
  device.nominalSampleRate = rate;
  device.transportType = transport;
  if (inputChannels > 0) device.inputStreams = {inputChannels};
  if (outputChannels > 0) device.outputStreams = {outputChannels};
  return device;
}

}  // namespace oskel::test
