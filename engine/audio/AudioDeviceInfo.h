#pragma once

#include <cstdint>
#include <string>

#include "audio/AudioHost.h"

namespace oskel {

// The few facts about one audio device that the rest of the engine needs.
struct AudioDeviceInfo {
  AudioDeviceID id = 0;
  std::string uid;
  std::string name;
  std::string manufacturer;
  int inputChannels = 0;
  int outputChannels = 0;
  double nominalSampleRate = 0;
  uint32_t transportType = 0;

  // One of the two loopback devices the engine provisions.
  bool isOskel() const;
  bool isBluetooth() const;
  // Aggregate or virtual transport, or a known loopback device.
  bool isVirtual() const;

  bool operator==(const AudioDeviceInfo&) const = default;
};

}  // namespace oskel
