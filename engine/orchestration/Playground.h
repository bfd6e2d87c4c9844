#pragma once

#include <expected>
#include <functional>
#include <memory>
#include <optional>

#include "orchestration/OrchestratorEnvironment.h"
#include "orchestration/OrchestratorState.h"
#include "orchestration/TranslatorConfig.h"
#include "pipeline/TranslationPipeline.h"

namespace oskel {

// The first-run try-out: one pipeline from the user's microphone to the
// user's speaker, translating the user's own speech, reported like a call
// reduced to one direction (transcripts are always `outgoing`).
class Playground : public std::enable_shared_from_this<Playground> {
 public:
  using EventHandler = OrchestratorState::Handler;

  static std::expected<std::shared_ptr<Playground>, OrchestratorError> make(TranslatorConfig config,
                                                                             OrchestratorEnvironment environment);
  ~Playground();
  Playground(const Playground&) = delete;
  Playground& operator=(const Playground&) = delete;

  void setOnEvent(EventHandler handler) { state_.setOnEvent(std::move(handler)); }
  TranslatorState state() const { return state_.get(); }
  std::expected<void, OrchestratorError> start();
  void stop(bool fast, std::function<void()> completion);

  bool echoCancellationActive() const { return echoCancellation_; }
  double speechSeconds() const { return pipeline_->speechSeconds(); }
  double translatedSeconds() const { return pipeline_->translatedSeconds(); }

  const TranslatorConfig& config() const { return config_; }
  const AudioDeviceInfo& microphone() const { return microphone_; }
  const AudioDeviceInfo& speaker() const { return speaker_; }
  TranslationPipeline& pipeline() const { return *pipeline_; }
  // The user's captured level for a meter; the playground hears no one else.
  std::optional<float> inputLevelDB(CallDirection direction) const {
    return direction == CallDirection::outgoing ? pipeline_->inputLevelDB() : std::nullopt;
  }

 private:
  struct Token {};

 public:
  Playground(Token, TranslatorConfig config, OrchestratorEnvironment environment);
  void handle(CallDirection direction, const PipelineEvent& event);

 private:
  void closeVoiceProcessing();

  const TranslatorConfig config_;
  const OrchestratorEnvironment environment_;
  AudioDeviceInfo microphone_;
  AudioDeviceInfo speaker_;
  RealDevicesIO io_;
  bool echoCancellation_ = false;
  std::shared_ptr<TranslationPipeline> pipeline_;
  OrchestratorState state_;
};

}  // namespace oskel
