#include "orchestration/PipelineStops.h"

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

}  // namespace oskel
