#pragma once

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Orchestrator.h"

namespace oskel {

// An orchestrator that plays what it is told: for previews of the windows
// and for tests of the model, never for a real session. Its events reach
// the model through the main queue like a real one's.
class ScriptedOrchestrator final : public Orchestrator, public std::enable_shared_from_this<ScriptedOrchestrator> {
 public:
  ScriptedOrchestrator(OrchestratorKind kind, TranslatorConfig config, CallDirection turn,
                       OrchestratorEnvironment::Post eventQueue);

  // Script: the next start fails with this text; a stop completes at once
  // (default) or waits for finishStop().
  std::optional<std::string> startFailure;
  bool stopsAtOnce = true;
  bool echoCancellation = true;
  double speech = 0, theirSpeech = 0, translated = 0;
  // What the meters read, per direction.
  std::optional<float> outgoingLevel, incomingLevel;

  // Raise an event as the engine would (state changes are remembered).
  void raise(const TranslatorEvent& event);
  void raiseState(TranslatorState next) { raise(TranslatorEvents::State{std::move(next)}); }
  void finishStop();

  // What the model did to it.
  OrchestratorKind kind;
  CallDirection turn;
  TranslatorState state = TranslatorStates::Idle{};
  int starts = 0, stops = 0;
  std::optional<bool> lastStopFast;
  std::vector<std::pair<double, std::optional<double>>> levelChanges;
  std::vector<std::filesystem::path> recordingsStarted;
  std::optional<std::filesystem::path> recording;

  void setOnEvent(EventHandler handler) override { onEvent_ = std::move(handler); }
  std::expected<void, OrchestratorError> start() override;
  void stop(bool fast, std::function<void()> completion) override;
  void setVoiceOverLevels(double idleDB, std::optional<double> duckDB) override;
  std::expected<void, std::string> startRecording(const std::filesystem::path& url) override;
  std::optional<CallRecorder::Result> stopRecording() override;
  void setTurn(CallDirection direction) override { turn = direction; }
  bool echoCancellationActive() const override { return echoCancellation; }
  double speechSeconds() const override { return speech; }
  double theirSpeechSeconds() const override { return theirSpeech; }
  double translatedSeconds() const override { return translated; }
  std::optional<float> inputLevelDB(CallDirection direction) const override {
    return direction == CallDirection::outgoing ? outgoingLevel : incomingLevel;
  }
  const TranslatorConfig& config() const override { return config_; }
  const AudioDeviceInfo& microphone() const override { return microphone_; }
  const AudioDeviceInfo& speaker() const override { return speaker_; }

 private:
  friend struct ScriptedOrchestrators;
  TranslatorConfig config_;
  AudioDeviceInfo microphone_;
  AudioDeviceInfo speaker_;
  OrchestratorEnvironment::Post eventQueue_;
  EventHandler onEvent_;
  std::vector<std::function<void()>> pendingStops_;
};

// A factory of scripted orchestrators that keeps every one it made.
struct ScriptedOrchestrators {
  std::vector<std::shared_ptr<ScriptedOrchestrator>> made;
  // Failures of the next constructions, in order.
  std::deque<OrchestratorError> makeFailures;
  // Applied to each new orchestrator before it is handed out.
  std::function<void(ScriptedOrchestrator&)> prepare;
  // The devices a scripted orchestrator resolves when the configuration
  // names none.
  AudioDeviceInfo defaultMicrophone = device(1, "default-mic", "Default Microphone");
  AudioDeviceInfo defaultSpeaker = device(2, "default-speaker", "Default Speaker");
  static AudioDeviceInfo device(AudioDeviceID id, std::string uid, std::string name);

  std::shared_ptr<ScriptedOrchestrator> last() const { return made.empty() ? nullptr : made.back(); }
  static OrchestratorFactory factory(std::shared_ptr<ScriptedOrchestrators> scripted);
};

}  // namespace oskel
