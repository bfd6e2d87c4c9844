#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/AudioDeviceInfo.h"
#include "orchestration/OrchestratorEnvironment.h"
#include "orchestration/TranslatorConfig.h"
#include "orchestration/TranslatorVocabulary.h"
#include "recording/CallRecorder.h"

namespace oskel {

// What the model asks of whichever orchestrator runs: a call translator, an
// in-person conversation or the onboarding playground. Operations one kind
// does not have (recording and voice-over levels outside a call, the turn
// outside a conversation) do nothing there.
class Orchestrator {
 public:
  using EventHandler = std::function<void(const TranslatorEvent&)>;

  virtual ~Orchestrator() = default;

  virtual void setOnEvent(EventHandler handler) = 0;
  virtual std::expected<void, OrchestratorError> start() = 0;
  // `completion` runs on the main queue (or at once when nothing runs).
  virtual void stop(bool fast, std::function<void()> completion) = 0;

  virtual void setVoiceOverLevels(double /*idleDB*/, std::optional<double> /*duckDB*/) {}
  virtual std::expected<void, std::string> startRecording(const std::filesystem::path& /*url*/) {
    return std::unexpected(std::string("recording needs a call"));
  }
  virtual std::optional<CallRecorder::Result> stopRecording() { return std::nullopt; }
  virtual void setTurn(CallDirection /*turn*/) {}

  virtual bool echoCancellationActive() const = 0;
  virtual double speechSeconds() const = 0;
  virtual double theirSpeechSeconds() const { return 0; }
  virtual double translatedSeconds() const = 0;
  // A direction's captured level in dBFS for the meters, from the audio
  // path's latest reading; absent where that direction captures nothing (yet).
  virtual std::optional<float> inputLevelDB(CallDirection /*direction*/) const { return std::nullopt; }

  // What it was built with, and the real devices it resolved.
  virtual const TranslatorConfig& config() const = 0;
  virtual const AudioDeviceInfo& microphone() const = 0;
  virtual const AudioDeviceInfo& speaker() const = 0;
};

enum class OrchestratorKind { translator, conversation, playground };

// Builds an orchestrator whose events arrive through the given main-queue
// poster. The seam between the model and the engine: the application passes
// engineOrchestrators(), tests and previews a scripted factory.
using OrchestratorFactory = std::function<std::expected<std::shared_ptr<Orchestrator>, OrchestratorError>(
    OrchestratorKind kind, TranslatorConfig config, CallDirection turn, OrchestratorEnvironment::Post eventQueue)>;

// The real Translator, Conversation and Playground over `base` (the audio
// host and the service environment; its event queue is replaced per call).
OrchestratorFactory engineOrchestrators(OrchestratorEnvironment base);

}  // namespace oskel
