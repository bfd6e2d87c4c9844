#include "PipelineRun.h"

#include "StopSignal.h"

namespace oskel {

PipelineRun::PipelineRun(std::shared_ptr<TranslationPipeline> pipeline) : pipeline_(std::move(pipeline)) {
  pipeline_->setOnEvent([state = state_](const PipelineEvent& event) {
    std::optional<std::string> why;
    if (const auto* fatal = std::get_if<PipelineEvents::Fatal>(&event)) why = fatal->message;
    if (std::holds_alternative<PipelineEvents::SignedOut>(event))
      why = "the relay rejected the access token (OSKEL_TOKEN); sign in again";
    if (!why) return;
    std::lock_guard guard(state->mutex);
    if (!state->failure) state->failure = std::move(why);
    state->changed.notify_all();
  });
}

std::optional<std::string> PipelineRun::start() {
  StopSignal::install();
  if (auto started = pipeline_->start(); !started) return started.error().description();
  return std::nullopt;
}

void PipelineRun::wait(const std::function<bool()>& finished) {
  std::unique_lock lock(state_->mutex);
  while (!state_->failure) {
    if (StopSignal::raised()) {
      interrupted_ = true;
      return;
    }
    lock.unlock();
    const bool done = finished();
    lock.lock();
    if (done) return;
    state_->changed.wait_for(lock, std::chrono::milliseconds(20));
  }
}

void PipelineRun::stop(double sessionTimeout) {
  pipeline_->stop(sessionTimeout, [state = state_] {
    std::lock_guard guard(state->mutex);
    state->stopped = true;
    state->changed.notify_all();
  });
  std::unique_lock lock(state_->mutex);
  state_->changed.wait(lock, [&] { return state_->stopped; });
}

std::optional<std::string> PipelineRun::failure() const {
  std::lock_guard guard(state_->mutex);
  return state_->failure;
}

}  // namespace oskel
