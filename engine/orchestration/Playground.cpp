#include "orchestration/Playground.h"

#include "audio/AudioDevices.h"
#include "orchestration/PipelineStops.h"
#include "orchestration/Translator.h"

namespace oskel {

std::expected<std::shared_ptr<Playground>, OrchestratorError> Playground::make(TranslatorConfig config,
                                                                                OrchestratorEnvironment environment) {
  auto playground = std::make_shared<Playground>(Token{}, std::move(config), std::move(environment));
  auto& self = *playground;
  auto& host = *self.environment_.host;
  const auto& cfg = self.config_;

  auto microphone = cfg.microphone ? cfg.microphone : AudioDevices::defaultInput(host);
  if (!microphone) return std::unexpected(OrchestratorError::of(TranslatorError::noDefaultDevices()));
  auto speaker = cfg.speaker ? cfg.speaker : AudioDevices::defaultOutput(host);
  if (!speaker) return std::unexpected(OrchestratorError::of(TranslatorError::noDefaultDevices()));
  self.microphone_ = *microphone;
  self.speaker_ = *speaker;

  // No Bluetooth exception here: the try-out asks for what is configured.
  auto io = self.environment_.realDevices(self.microphone_, self.speaker_, cfg.echoCancellation);
  if (!io) return std::unexpected(OrchestratorError::of(io.error()));
  self.io_ = std::move(*io);
  self.echoCancellation_ = static_cast<bool>(self.io_.closeVoiceProcessing);

  PipelineConfig pipeline("playground " + directionLabel(cfg.myLanguage, cfg.theirLanguage), self.io_.input,
                          self.io_.output, TranslationOptions(cfg.theirLanguage), cfg.credential);
  pipeline.options.transcribeInput = cfg.transcribeInput;
  pipeline.options.noiseReduction = cfg.noiseReduction;
  pipeline.options.model = "gpt-realtime-translate";
  pipeline.silenceGate = cfg.silenceGate;
  pipeline.clock = self.environment_.clock;
  pipeline.sessionEnvironment = self.environment_.sessionEnvironment;
  pipeline.console = self.environment_.console;
  self.pipeline_ = TranslationPipeline::make(std::move(pipeline));
  forwardEvents(*self.pipeline_, playground, CallDirection::outgoing, self.environment_.eventQueue);
  return playground;
}

Playground::Playground(Token, TranslatorConfig config, OrchestratorEnvironment environment)
    : config_(std::move(config)), environment_(std::move(environment)) {}

Playground::~Playground() { closeVoiceProcessing(); }

void Playground::closeVoiceProcessing() {
  if (auto close = std::exchange(io_.closeVoiceProcessing, nullptr)) close();
}

std::expected<void, OrchestratorError> Playground::start() {
  if (!state_.is({StateIndex::idle})) return {};
  state_.set(TranslatorStates::Starting{});
  if (auto started = pipeline_->start(); !started) {
    auto text = started.error().description();
    state_.set(TranslatorStates::Failed{text});
    return std::unexpected(OrchestratorError::of(std::move(text)));
  }
  state_.connecting(1);
  return {};
}

void Playground::handle(CallDirection direction, const PipelineEvent& event) {
  using namespace PipelineEvents;
  using namespace StateIndex;
  if (const auto* transcript = std::get_if<Transcript>(&event)) {
    state_.raise(TranslatorEvents::Transcript{{CallDirection::outgoing, transcript->kind, transcript->text}});
  } else if (std::holds_alternative<Ready>(event)) {
    state_.directionReady(direction, 1);
  } else if (std::holds_alternative<Disconnected>(event)) {
    state_.directionDropped(direction);
  } else if (const auto* fatal = std::get_if<Fatal>(&event)) {
    if (!state_.is({idle, stopping})) state_.set(TranslatorStates::Failed{fatal->message});
  } else if (std::holds_alternative<Passthrough>(event)) {
    if (state_.is({idle, stopping})) return;
    state_.set(TranslatorStates::Passthrough{});
    stop(false, {});
  } else if (std::holds_alternative<SignedOut>(event)) {
    if (state_.is({idle, stopping})) return;
    state_.raise(TranslatorEvents::SignedOut{});
    stop(false, {});
  }
}

void Playground::stop(bool fast, std::function<void()> completion) {
  if (state_.is({StateIndex::idle, StateIndex::stopping})) {
    if (completion) completion();
    return;
  }
  state_.set(TranslatorStates::Stopping{});
  std::weak_ptr<Playground> weak = shared_from_this();
  stopPipelines({pipeline_}, fast, environment_.eventQueue, [weak, completion = std::move(completion)] {
    if (auto self = weak.lock()) {
      self->closeVoiceProcessing();
      self->state_.set(TranslatorStates::Idle{});
    }
    if (completion) completion();
  });
}

}  // namespace oskel
