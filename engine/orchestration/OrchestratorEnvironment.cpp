#include "orchestration/OrchestratorEnvironment.h"

#include "audio/AudioDevices.h"
#include "audio/RealEndpoints.h"

namespace oskel {

std::expected<std::pair<AudioDeviceInfo, AudioDeviceInfo>, OrchestratorError> OrchestratorEnvironment::userDevices(
    const std::optional<AudioDeviceInfo>& microphone, const std::optional<AudioDeviceInfo>& speaker) const {
  auto input = microphone ? microphone : AudioDevices::defaultInput(*host);
  auto output = speaker ? speaker : AudioDevices::defaultOutput(*host);
  if (!input || !output) return std::unexpected(OrchestratorError::of(TranslatorError::noDefaultDevices()));
  return std::pair{std::move(*input), std::move(*output)};
}

std::expected<RealDevicesIO, std::string> OrchestratorEnvironment::realDevices(const AudioDeviceInfo& microphone,
                                                                               const AudioDeviceInfo& speaker,
                                                                               bool echoCancellation) const {
  if (endpoints) return endpoints(microphone, speaker, echoCancellation);
  VoiceProcessingIO::Options options;
  options.clock = clock;
  auto made = RealEndpoints::make(host, std::dynamic_pointer_cast<EchoCancelHost>(host), microphone, speaker,
                                  echoCancellation, options);
  if (!made) return std::unexpected(made.error().description());
  RealDevicesIO io{std::move(made->input), std::move(made->output), {}, {}};
  if (auto unit = std::move(made->voiceProcessing)) {
    io.closeVoiceProcessing = [unit] { unit->close(); };
    io.voiceProcessingName = "the audio server's echo canceller";
  }
  return io;
}

}  // namespace oskel
