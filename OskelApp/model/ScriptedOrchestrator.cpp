#include "ScriptedOrchestrator.h"

#include <fstream>
#include <utility>

namespace oskel {

ScriptedOrchestrator::ScriptedOrchestrator(OrchestratorKind kindOf, TranslatorConfig config, CallDirection firstTurn,
                                           OrchestratorEnvironment::Post eventQueue)
    : kind(kindOf), turn(firstTurn), config_(std::move(config)), eventQueue_(std::move(eventQueue)) {}

void ScriptedOrchestrator::raise(const TranslatorEvent& event) {
  if (const auto* change = std::get_if<TranslatorEvents::State>(&event)) {
    if (change->state == state) return;
    state = change->state;
  }
  if (onEvent_) onEvent_(event);
}

std::expected<void, OrchestratorError> ScriptedOrchestrator::start() {
  ++starts;
  if (!std::holds_alternative<TranslatorStates::Idle>(state)) return {};
  raiseState(TranslatorStates::Starting{});
  if (startFailure) {
    raiseState(TranslatorStates::Failed{*startFailure});
    return std::unexpected(OrchestratorError::of(*startFailure));
  }
  raiseState(TranslatorStates::Connecting{});
  return {};
}

void ScriptedOrchestrator::stop(bool fast, std::function<void()> completion) {
  ++stops;
  lastStopFast = fast;
  if (std::holds_alternative<TranslatorStates::Idle>(state) ||
      std::holds_alternative<TranslatorStates::Stopping>(state)) {
    if (completion) completion();
    return;
  }
  recording.reset();
  raiseState(TranslatorStates::Stopping{});
  pendingStops_.push_back(std::move(completion));
  if (stopsAtOnce) eventQueue_([weak = weak_from_this()] {
    if (auto self = weak.lock()) self->finishStop();
  });
}

void ScriptedOrchestrator::finishStop() {
  raiseState(TranslatorStates::Idle{});
  for (auto& completion : std::exchange(pendingStops_, {}))
    if (completion) completion();
}

void ScriptedOrchestrator::setVoiceOverLevels(double idleDB, std::optional<double> duckDB) {
  levelChanges.emplace_back(idleDB, duckDB);
}

std::expected<void, std::string> ScriptedOrchestrator::startRecording(const std::filesystem::path& url) {
  if (kind != OrchestratorKind::translator) return Orchestrator::startRecording(url);
  if (recording) return {};
  // An empty file holds the name, as a real recorder's would.
  std::ofstream(url).flush();
  recordingsStarted.push_back(url);
  recording = url;
  return {};
}

std::optional<CallRecorder::Result> ScriptedOrchestrator::stopRecording() {
  if (!recording) return std::nullopt;
  CallRecorder::Result result{};
  result.url = *std::exchange(recording, std::nullopt);
  return result;
}

AudioDeviceInfo ScriptedOrchestrators::device(AudioDeviceID id, std::string uid, std::string name) {
  AudioDeviceInfo info;
  info.id = id;
  info.uid = std::move(uid);
  info.name = std::move(name);
  return info;
}

OrchestratorFactory ScriptedOrchestrators::factory(std::shared_ptr<ScriptedOrchestrators> scripted) {
  return [scripted](OrchestratorKind kind, TranslatorConfig config, CallDirection turn,
                    OrchestratorEnvironment::Post eventQueue)
             -> std::expected<std::shared_ptr<Orchestrator>, OrchestratorError> {
    if (!scripted->makeFailures.empty()) {
      auto failure = std::move(scripted->makeFailures.front());
      scripted->makeFailures.pop_front();
      return std::unexpected(std::move(failure));
    }
    auto made = std::make_shared<ScriptedOrchestrator>(kind, std::move(config), turn, std::move(eventQueue));
    made->microphone_ = made->config().microphone.value_or(scripted->defaultMicrophone);
    made->speaker_ = made->config().speaker.value_or(scripted->defaultSpeaker);
    if (scripted->prepare) scripted->prepare(*made);
    scripted->made.push_back(made);
    return made;
  };
}

}  // namespace oskel
