#include "orchestration/PipelineGroup.h"

#include <atomic>

namespace oskel {

void stopPipelines(std::vector<std::shared_ptr<TranslationPipeline>> pipelines, bool fast,
                   const OrchestratorEnvironment::Post& eventQueue, std::function<void()> finished) {
  auto remaining = std::make_shared<std::atomic<size_t>>(pipelines.size());
  auto stopped = [remaining, eventQueue, finished = std::move(finished)] {
    if (remaining->fetch_sub(1) == 1) eventQueue(finished);
  };
  for (auto& pipeline : pipelines) pipeline->stop(sessionStopTimeout(fast), stopped);
}

std::expected<void, OrchestratorError> startPipelines(OrchestratorState& state,
                                                      std::initializer_list<TranslationPipeline*> pipelines,
                                                      size_t required) {
  if (!state.is({StateIndex::idle})) return {};
  state.set(TranslatorStates::Starting{});
  for (auto* pipeline : pipelines) {
    if (auto started = pipeline->start(); !started) {
      auto text = started.error().description();
      state.set(TranslatorStates::Failed{text});
      return std::unexpected(OrchestratorError::of(std::move(text)));
    }
  }
  state.connecting(required);
  return {};
}

bool handleSessionEvent(OrchestratorState& state, CallDirection direction, const PipelineEvent& event,
                        size_t required) {
  using namespace PipelineEvents;
  if (const auto* transcript = std::get_if<Transcript>(&event)) {
    state.raise(TranslatorEvents::Transcript{{direction, transcript->kind, transcript->text}});
  } else if (std::holds_alternative<Ready>(event)) {
    state.directionReady(direction, required);
  } else if (std::holds_alternative<Disconnected>(event)) {
    state.directionDropped(direction);
  } else if (!std::holds_alternative<Error>(event) && !std::holds_alternative<Connected>(event)) {
    return false;
  }
  return true;
}

void handleEndingEvent(OrchestratorState& state, const PipelineEvent& event, const std::function<void()>& stop) {
  using namespace PipelineEvents;
  if (state.is({StateIndex::idle, StateIndex::stopping})) return;
  if (const auto* fatal = std::get_if<Fatal>(&event)) {
    state.set(TranslatorStates::Failed{fatal->message});
  } else if (std::holds_alternative<Passthrough>(event)) {
    state.set(TranslatorStates::Passthrough{});
    stop();
  } else if (std::holds_alternative<SignedOut>(event)) {
    state.raise(TranslatorEvents::SignedOut{});
    stop();
  }
}

}  // namespace oskel
