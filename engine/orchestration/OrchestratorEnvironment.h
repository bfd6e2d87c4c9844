#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "audio/AudioDeviceInfo.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioHost.h"
#include "concurrency/Clock.h"
#include "orchestration/TranslatorVocabulary.h"
#include "service/TranslationSession.h"

namespace oskel {

class TranscriptConsole;

// Why an orchestrator could not be built or started. A TranslatorError when
// the devices do not fit; otherwise the failing endpoint's or pipeline's
// own text. description() is shown to the user unchanged.
struct OrchestratorError {
  std::optional<TranslatorError> translator;
  std::string text;

  static OrchestratorError of(TranslatorError error) {
    auto text = error.description();
    return {std::move(error), std::move(text)};
  }
  static OrchestratorError of(std::string text) { return {std::nullopt, std::move(text)}; }
  const std::string& description() const { return text; }
};

// The endpoints an orchestrator uses for the user's real microphone and
// speaker: echo-cancelled ones with the unit to close at the end, or plain ones.
struct RealDevicesIO {
  std::shared_ptr<AudioInputEndpoint> input;
  std::shared_ptr<AudioOutputEndpoint> output;
  // Present when echo cancellation is in use; closes the canceller (idempotent).
  std::function<void()> closeVoiceProcessing;
  // The canceller's own description for summaries ("the audio server's echo canceller").
  std::string voiceProcessingName;
};

// What an orchestrator works with besides its configuration.
struct OrchestratorEnvironment {
  using Post = std::function<void(std::function<void()>)>;
  using EndpointFactory = std::function<std::expected<RealDevicesIO, std::string>(
      const AudioDeviceInfo& microphone, const AudioDeviceInfo& speaker, bool echoCancellation)>;

  std::shared_ptr<AudioHost> host;
  // Runs a task on the owner's event queue, one at a time in order (the
  // application's main queue).
  Post eventQueue;
  // Empty: the audio server's echo canceller when asked for and the devices
  // allow it (the host must then also be an EchoCancelHost), else plain
  // capture and playback.
  EndpointFactory endpoints;
  // Passed to every pipeline (tests replace them).
  std::shared_ptr<Clock> clock = Clock::system();
  std::optional<TranslationSession::Environment> sessionEnvironment;
  TranscriptConsole* console = nullptr;

  // The user's microphone and speaker: the chosen ones, else the system
  // defaults; noDefaultDevices when a default is missing.
  std::expected<std::pair<AudioDeviceInfo, AudioDeviceInfo>, OrchestratorError> userDevices(
      const std::optional<AudioDeviceInfo>& microphone, const std::optional<AudioDeviceInfo>& speaker) const;
  // The endpoints for the real devices, through `endpoints` or plain.
  std::expected<RealDevicesIO, std::string> realDevices(const AudioDeviceInfo& microphone,
                                                        const AudioDeviceInfo& speaker, bool echoCancellation) const;
};

}  // namespace oskel
