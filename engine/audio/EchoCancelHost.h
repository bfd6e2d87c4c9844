#pragma once

#include <cstdint>
#include <expected>
#include <span>
#include <vector>

#include "audio/AudioDeviceInfo.h"
#include "audio/AudioHost.h"
#include "audio/AudioHostError.h"

namespace oskel {

// One echo canceller running in the audio server: capture from `input` gives
// the microphone with what was played into `output` removed; `output` plays
// on the speaker and is the canceller's reference.
struct EchoCanceller {
  AudioDeviceID input = 0;
  AudioDeviceID output = 0;
  // The server's handle; the canceller is unloaded by it and nothing else,
  // so that another program's canceller is never touched.
  uint32_t module = 0;
};

// A host whose server can cancel the echo of a speaker in a microphone.
class EchoCancelHost {
 public:
  virtual ~EchoCancelHost() = default;
  // Loads a canceller between the microphone and the speaker under names of
  // this process's own. Never changes the default input or output, and leaves
  // the microphone's gain alone.
  virtual std::expected<EchoCanceller, AudioHostError> loadEchoCanceller(const AudioDeviceInfo& microphone,
                                                                         const AudioDeviceInfo& speaker) = 0;
  virtual std::expected<void, AudioHostError> unloadEchoCanceller(const EchoCanceller& canceller) = 0;
  // Unloads the cancellers that Oskel processes no longer running left
  // behind; returns how many.
  virtual int unloadStaleEchoCancellers() = 0;

  // Input volume per channel (1 is the device's nominal full volume); empty
  // when the device has none that can be set.
  virtual std::vector<float> inputVolume(AudioDeviceID id) = 0;
  virtual AudioHostStatus setInputVolume(AudioDeviceID id, std::span<const float> volume) = 0;
};

}  // namespace oskel
