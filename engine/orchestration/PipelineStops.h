#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "orchestration/OrchestratorEnvironment.h"
#include "pipeline/TranslationPipeline.h"

namespace oskel {

// Session drain bounds of an orchestrator's stop: fast at restart and quit.
inline double sessionStopTimeout(bool fast) { return fast ? 0.3 : 4.0; }

// Stops every pipeline with the drain bound and, once all have stopped,
// posts `finished` to the event queue. A pipeline that is not running counts
// as stopped at once.
void stopPipelines(std::vector<std::shared_ptr<TranslationPipeline>> pipelines, bool fast,
                   const OrchestratorEnvironment::Post& eventQueue, std::function<void()> finished);

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
