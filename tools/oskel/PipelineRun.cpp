#include "PipelineRun.h"

#include <chrono>
#include <ostream>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "CommandSupport.h"
#include "StopSignal.h"

namespace oskel {

namespace {

constexpr double drainTimeout = 4.0;
constexpr double interruptedDrainTimeout = 0.3;

}  // namespace

std::expected<std::unique_ptr<PipelineRun>, int> PipelineRun::start(const PipelineChoices& choices,
                                                                    std::shared_ptr<AudioInputEndpoint> input,
                                                                    std::shared_ptr<AudioOutputEndpoint> output,
                                                                    std::ostream& out, std::ostream& err) {
  const auto fail = [&](const std::string& message) {
    fmt::print(err, "oskel {}: {}\n", choices.command, message);
    return std::unexpected(1);
  };
  const auto duck = duckLevel(choices.duck);
  if (!duck) {
    fmt::print(err, "oskel {}: {}\n", choices.command, duck.error());
    return std::unexpected(2);
  }
  auto service = chooseService();
  if (!service) return fail(service.error());
  if (!service->description.empty()) {
    fmt::print(out, "{}\n", service->description);
    out.flush();  // the captions are written unbuffered
  }

  auto capture = std::make_shared<InputTap>(std::move(input));
  PipelineConfig config(choices.from.value_or("auto") + "→" + choices.language, capture, std::move(output),
                        TranslationOptions(choices.language), service->credential);
  config.sessionEnvironment = service->environment;
  config.voiceOverGainDB = choices.voiceOverDB;
  config.voiceOverDuckDB = *duck;
  config.normalizeInput = choices.normalize;
  std::unique_ptr<PipelineRun> run(
      new PipelineRun(choices, std::move(*service), TranslationPipeline::make(std::move(config))));

  if (choices.record) {
    auto recording = CommandRecording::start(*choices.record, *run->pipeline_, *capture);
    if (!recording) return fail("cannot record to " + *choices.record + ": " + recording.error());
    run->recording_ = std::move(*recording);
  }
  StopSignal::install();
  if (auto started = run->pipeline_->start(); !started) {
    run->stop(0.0);
    return fail(started.error().description());
  }
  return run;
}

PipelineRun::PipelineRun(PipelineChoices choices, ServiceChoice service, std::shared_ptr<TranslationPipeline> pipeline)
    : choices_(std::move(choices)), service_(std::move(service)), pipeline_(std::move(pipeline)) {
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

PipelineRun::~PipelineRun() {
  if (!stopped_) stop(interruptedDrainTimeout);
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
  stopped_ = true;
  pipeline_->stop(sessionTimeout, [state = state_] {
    std::lock_guard guard(state->mutex);
    state->stopped = true;
    state->changed.notify_all();
  });
  std::unique_lock lock(state_->mutex);
  state_->changed.wait(lock, [&] { return state_->stopped; });
}

int PipelineRun::finish(std::ostream& out, std::ostream& err) {
  stop(interrupted_ ? interruptedDrainTimeout : drainTimeout);
  if (recording_) recording_->finish(out);
  std::optional<std::string> failure;
  {
    std::lock_guard guard(state_->mutex);
    failure = state_->failure;
  }
  if (failure) {
    fmt::print(err, "oskel {}: {}\n", choices_.command, *failure);
    return 1;
  }
  return interrupted_ ? 130 : 0;
}

}  // namespace oskel
