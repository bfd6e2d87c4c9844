#include "audio/AudioDeviceInfo.h"

#include "audio/AudioTransport.h"

namespace oskel {

bool AudioDeviceInfo::isOskel() const { return uid.starts_with("Oskel"); }

bool AudioDeviceInfo::isBluetooth() const {
  return transportType == AudioTransport::bluetooth || transportType == AudioTransport::bluetoothLE;
}

bool AudioDeviceInfo::isVirtual() const {
  return transportType == AudioTransport::aggregate ||
         transportType == AudioTransport::virtualDevice || uid.starts_with("Oskel") ||
         uid.starts_with("BlackHole");
}

}  // namespace oskel
