#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>

#include "audio/MicrophoneSplitter.h"
#include "audio/SpeakerMixer.h"
#include "orchestration/OrchestratorEnvironment.h"
#include "orchestration/OrchestratorState.h"
#include "orchestration/TranslatorConfig.h"
#include "pipeline/TranslationPipeline.h"

namespace oskel {

// Two people in one room sharing one microphone and one speaker. The
// outgoing pipeline translates the user (splitter tap 0, mixer source 0), the
// incoming one the other person (tap 1, source 1); only the current turn's
// pipeline hears the microphone. Events merge into one state as in a call.
class Conversation : public std::enable_shared_from_this<Conversation> {
 public:
  using EventHandler = OrchestratorState::Handler;

  static std::expected<std::shared_ptr<Conversation>, OrchestratorError> make(TranslatorConfig config,
                                                                               OrchestratorEnvironment environment);
  ~Conversation();
  Conversation(const Conversation&) = delete;
  Conversation& operator=(const Conversation&) = delete;

  void setOnEvent(EventHandler handler) { state_.setOnEvent(std::move(handler)); }
  TranslatorState state() const { return state_.get(); }
  std::expected<void, OrchestratorError> start();
  void stop(bool fast, std::function<void()> completion);

  // Whose speech the microphone carries; switching is sample-exact and gives
  // the previous speaker's pipeline 1.5 s of silence.
  CallDirection turn() const;
  void setTurn(CallDirection direction);

  bool echoCancellationActive() const { return echoCancellation_; }
  double speechSeconds() const { return outgoing_->speechSeconds(); }
  double theirSpeechSeconds() const { return incoming_->speechSeconds(); }
  double translatedSeconds() const { return outgoing_->translatedSeconds() + incoming_->translatedSeconds(); }

  const TranslatorConfig& config() const { return config_; }
  const AudioDeviceInfo& microphone() const { return microphone_; }
  const AudioDeviceInfo& speaker() const { return speaker_; }
  TranslationPipeline& outgoing() const { return *outgoing_; }
  TranslationPipeline& incoming() const { return *incoming_; }
  // A direction's captured level for its meter (TranslationPipeline::inputLevelDB).
  std::optional<float> inputLevelDB(CallDirection direction) const {
    return (direction == CallDirection::outgoing ? outgoing_ : incoming_)->inputLevelDB();
  }

 private:
  struct Token {};

 public:
  Conversation(Token, TranslatorConfig config, OrchestratorEnvironment environment);
  void handle(CallDirection direction, const PipelineEvent& event);

 private:
  void closeVoiceProcessing();

  const TranslatorConfig config_;
  const OrchestratorEnvironment environment_;
  AudioDeviceInfo microphone_;
  AudioDeviceInfo speaker_;
  RealDevicesIO io_;
  bool echoCancellation_ = false;
  std::shared_ptr<MicrophoneSplitter> splitter_;
  std::shared_ptr<SpeakerMixer> mixer_;
  std::shared_ptr<TranslationPipeline> outgoing_;
  std::shared_ptr<TranslationPipeline> incoming_;
  OrchestratorState state_;
};

}  // namespace oskel
