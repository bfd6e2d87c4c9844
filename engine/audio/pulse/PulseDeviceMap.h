#pragma once

#include <optional>
#include <string>
#include <vector>

#include "audio/AudioStreamFormat.h"
#include "audio/pulse/PulseSnapshot.h"

namespace oskel::Pulse {

// One side of a device: the sink (output) or source (input) it plays or records.
struct Side {
  std::string node;  // sink or source name
  uint32_t channels = 0;
  std::string channelMap;
  uint32_t rate = 0;
  AudioStreamFormat format;  // what a stream of the engine gets
};

// One catalogue device: a sink, a source, or a sink with its paired source.
struct Device {
  std::string uid;  // the node name of the sink, else of the source
  std::optional<std::string> name;
  std::optional<std::string> manufacturer;
  uint32_t transportType = 0;
  double nominalSampleRate = 0;
  std::optional<Side> input;
  std::optional<Side> output;
};

// Monitors are not devices: call programs hide them, and a null sink's
// monitor is reached through a source remapped over it. A sink pairs with a
// source when the source is remapped over the monitor of that null sink (a
// loopback device), or when they are a card's only sink and only source.
std::vector<Device> mapDevices(const Snapshot& snapshot);

// The transport a node's properties and owning module tell.
uint32_t transportOf(const Node& node, const std::map<uint32_t, std::string>& modules);

}  // namespace oskel::Pulse
