#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "orchestration/OrchestratorEnvironment.h"
#include "orchestration/OrchestratorState.h"
#include "pipeline/TranslationPipeline.h"

namespace oskel {

// Session drain bounds of an orchestrator's stop: fast at restart and quit.
inline double sessionStopTimeout(bool fast) { return fast ? 0.3 : 4.0; }

// Stops every pipeline with the drain bound and, once all have stopped,
// posts `finished` to the event queue. A pipeline that is not running counts
// as stopped at once.
void stopPipelines(std::vector<std::shared_ptr<TranslationPipeline>> pipelines, bool fast,
                   const OrchestratorEnvironment::Post& eventQueue, std::function<void()> finished);

// Only from idle: starting, each pipeline started in turn (the first error
// fails the state and is returned), then connecting, or live at once when
// `required` directions are already ready.
std::expected<void, OrchestratorError> startPipelines(OrchestratorState& state,
                                                      std::initializer_list<TranslationPipeline*> pipelines,
                                                      size_t required);

// The events every orchestrator handles alike: transcripts (raised with the
// direction), ready (live once `required` directions are), disconnected,
// and the ones it ignores. False for fatal, passthrough and sign-out.
bool handleSessionEvent(OrchestratorState& state, CallDirection direction, const PipelineEvent& event,
                        size_t required);

// Fatal, passthrough and sign-out for an orchestrator that ends its session
// on them (in person, playground): failed; passthrough, then `stop`; the
// sign-out event, then `stop`. Ignored while idle or stopping.
void handleEndingEvent(OrchestratorState& state, const PipelineEvent& event, const std::function<void()>& stop);

// Forwards a pipeline's events to `handle` on the event queue, holding the
// orchestrator weakly.
template <class Orchestrator>
void forwardEvents(TranslationPipeline& pipeline, const std::shared_ptr<Orchestrator>& orchestrator,
                   CallDirection direction, const OrchestratorEnvironment::Post& eventQueue) {
  pipeline.setOnEvent([weak = std::weak_ptr(orchestrator), direction, eventQueue](const PipelineEvent& event) {
    eventQueue([weak, direction, event] {
      if (auto self = weak.lock()) self->handle(direction, event);
    });
  });
}

}  // namespace oskel
