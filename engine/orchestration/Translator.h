#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "audio/AudioDeviceInfo.h"
#include "orchestration/OrchestratorEnvironment.h"
#include "orchestration/OrchestratorState.h"
#include "orchestration/TranslatorConfig.h"
#include "pipeline/TranslationPipeline.h"
#include "recording/CallRecorder.h"

namespace oskel {

// A two-way interpreted call. The outgoing pipeline takes the user's real
// microphone and plays the translation into the virtual microphone that the
// call program records; the incoming pipeline captures what the call program
// plays into the virtual speaker and plays the translation on the user's real
// speaker. Both pipelines' events are merged into one state on the event
// queue; a recording taps both translated outputs (left: what the other
// party heard, right: what the user heard).
class Translator : public std::enable_shared_from_this<Translator> {
 public:
  using EventHandler = OrchestratorState::Handler;

  // Resolves the four devices and builds the pipelines; starts nothing.
  static std::expected<std::shared_ptr<Translator>, OrchestratorError> make(TranslatorConfig config,
                                                                             OrchestratorEnvironment environment);
  ~Translator();
  Translator(const Translator&) = delete;
  Translator& operator=(const Translator&) = delete;

  void setOnEvent(EventHandler handler) { state_.setOnEvent(std::move(handler)); }
  TranslatorState state() const { return state_.get(); }

  // Only from idle: starts the outgoing, then the incoming pipeline.
  std::expected<void, OrchestratorError> start();
  // Ends a recording, stops both pipelines (0.3 s drain when fast, else
  // 4 s), closes the echo canceller and calls `completion` on the event
  // queue; at once on the caller's thread when idle or already stopping.
  void stop(bool fast, std::function<void()> completion);
  void setVoiceOverLevels(double idleDB, std::optional<double> duckDB);

  std::expected<void, std::string> startRecording(const std::filesystem::path& url,
                                                  CallRecorder::Options options = {});
  std::optional<CallRecorder::Result> stopRecording();
  bool isRecording() const;

  double speechSeconds() const;
  double theirSpeechSeconds() const;
  double translatedSeconds() const;
  bool echoCancellationActive() const { return echoCancellation_; }
  std::string summary() const;

  const TranslatorConfig& config() const { return config_; }
  const AudioDeviceInfo& microphone() const { return microphone_; }
  const AudioDeviceInfo& speaker() const { return speaker_; }
  const AudioDeviceInfo& virtualMicrophone() const { return virtualMicrophone_; }
  const AudioDeviceInfo& virtualSpeaker() const { return virtualSpeaker_; }
  TranslationPipeline& outgoing() const { return *outgoing_; }
  TranslationPipeline& incoming() const { return *incoming_; }
  // A direction's captured level for its meter (TranslationPipeline::inputLevelDB).
  std::optional<float> inputLevelDB(CallDirection direction) const {
    return (direction == CallDirection::outgoing ? outgoing_ : incoming_)->inputLevelDB();
  }

 private:
  struct Token {};

 public:
  Translator(Token, TranslatorConfig config, OrchestratorEnvironment environment);

  // A pipeline's event, on the event queue.
  void handle(CallDirection direction, const PipelineEvent& event);

 private:
  void enterPassthrough();
  void closeVoiceProcessing();

  const TranslatorConfig config_;
  const OrchestratorEnvironment environment_;
  AudioDeviceInfo microphone_;
  AudioDeviceInfo speaker_;
  AudioDeviceInfo virtualMicrophone_;
  AudioDeviceInfo virtualSpeaker_;
  RealDevicesIO io_;
  bool echoCancellation_ = false;
  std::shared_ptr<TranslationPipeline> outgoing_;
  std::shared_ptr<TranslationPipeline> incoming_;
  OrchestratorState state_;

  mutable std::mutex recorderLock_;
  std::shared_ptr<CallRecorder> recorder_;
};

// Pipeline labels: "en→es".
std::string directionLabel(const std::string& from, const std::string& to);

}  // namespace oskel
