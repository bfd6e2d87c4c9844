#include "orchestration/Playground.h"

#include "audio/AudioDevices.h"
#include "orchestration/PipelineGroup.h"
#include "orchestration/Translator.h"

namespace oskel {

std::expected<std::shared_ptr<Playground>, OrchestratorError> Playground::make(TranslatorConfig config,
                                                                                OrchestratorEnvironment environment) {
  auto playground = std::make_shared<Playground>(Token{}, std::move(config), std::move(environment));
  auto& self = *playground;
  const auto& cfg = self.config_;

  auto devices = self.environment_.userDevices(cfg.microphone, cfg.speaker);
  if (!devices) return std::unexpected(devices.error());
  std::tie(self.microphone_, self.speaker_) = std::move(*devices);

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

std::expected<void, OrchestratorError> Playground::start() { return startPipelines(state_, {pipeline_.get()}, 1); }

void Playground::handle(CallDirection direction, const PipelineEvent& event) {
  if (!handleSessionEvent(state_, direction, event, 1)) handleEndingEvent(state_, event, [this] { stop(false, {}); });
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
