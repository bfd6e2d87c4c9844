#include "audio/RealEndpoints.h"

#include <optional>
#include <string>

#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"
#include "audio/AudioTransport.h"
#include "log/Log.h"

namespace oskel::RealEndpoints {
namespace {

// Why the canceller is no use for this pair, or nothing when it is.
std::optional<std::string> skipReason(const AudioDeviceInfo& mic, const AudioDeviceInfo& speaker) {
  const std::string prefix = "echo cancellation skipped: ";
  if (mic.transportType == AudioTransport::aggregate || mic.transportType == AudioTransport::virtualDevice) {
    return prefix + mic.name + " is a virtual device";
  }
  if (mic.isBluetooth()) return prefix + mic.name + " is a Bluetooth microphone and cancels its own echo";
  const bool virtualMic = mic.uid.starts_with("Oskel") || mic.uid.starts_with("BlackHole");
  if (virtualMic || speaker.isVirtual()) {
    return prefix + (virtualMic ? mic.name : speaker.name) + " is a virtual device";
  }
  return std::nullopt;
}

std::expected<Endpoints, Error> plain(const std::shared_ptr<AudioHost>& host, const AudioDeviceInfo& mic,
                                      const AudioDeviceInfo& speaker) {
  auto capture = AudioCapture::make(host, mic);
  if (!capture) return std::unexpected(Error{capture.error().description()});
  auto playback = AudioPlayback::make(host, speaker);
  if (!playback) return std::unexpected(Error{playback.error().description()});
  return Endpoints{std::move(*capture), std::move(*playback), nullptr};
}

}  // namespace

std::expected<Endpoints, Error> make(std::shared_ptr<AudioHost> host, std::shared_ptr<EchoCancelHost> canceller,
                                     const AudioDeviceInfo& mic, const AudioDeviceInfo& speaker,
                                     bool echoCancellation, VoiceProcessingIO::Options options) {
  if (!echoCancellation || !canceller) return plain(host, mic, speaker);
  if (auto reason = skipReason(mic, speaker)) {
    Log::info([&] { return *reason; });
    return plain(host, mic, speaker);
  }
  auto io = VoiceProcessingIO::make(host, std::move(canceller), mic, speaker, std::move(options));
  if (!io) return std::unexpected(Error{io.error().description()});
  return Endpoints{(*io)->input(), (*io)->output(), *io};
}

}  // namespace oskel::RealEndpoints
