#pragma once

#include <expected>
#include <memory>

#include "audio/AudioDeviceInfo.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioHost.h"
#include "audio/EchoCancelHost.h"
#include "audio/VoiceProcessingIO.h"

// Decides per session between the audio server's echo canceller and plain
// capture and playback on the chosen devices.
namespace oskel::RealEndpoints {

struct Endpoints {
  std::shared_ptr<AudioInputEndpoint> input;
  std::shared_ptr<AudioOutputEndpoint> output;
  // Present when the echo canceller runs; its close() ends the session.
  std::shared_ptr<VoiceProcessingIO> voiceProcessing;
};

// Why no endpoints could be made: the texts of the failing part, unchanged.
struct Error {
  std::string message;
  const std::string& description() const { return message; }
};

// Echo cancellation is skipped (with an INFO line) for a virtual or Bluetooth
// microphone, an Oskel or BlackHole microphone, and a virtual speaker.
std::expected<Endpoints, Error> make(std::shared_ptr<AudioHost> host, std::shared_ptr<EchoCancelHost> canceller,
                                     const AudioDeviceInfo& mic, const AudioDeviceInfo& speaker,
                                     bool echoCancellation, VoiceProcessingIO::Options options = {});

}  // namespace oskel::RealEndpoints
