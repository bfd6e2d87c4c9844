#include "orchestration/Conversation.h"

#include <fmt/format.h>

#include "audio/AudioDevices.h"
#include "log/Log.h"
#include "orchestration/PipelineGroup.h"
#include "orchestration/Translator.h"

namespace oskel {

std::expected<std::shared_ptr<Conversation>, OrchestratorError> Conversation::make(
    TranslatorConfig config, OrchestratorEnvironment environment) {
  auto conversation = std::make_shared<Conversation>(Token{}, std::move(config), std::move(environment));
  auto& self = *conversation;
  const auto& cfg = self.config_;

  auto devices = self.environment_.userDevices(cfg.microphone, cfg.speaker);
  if (!devices) return std::unexpected(devices.error());
  std::tie(self.microphone_, self.speaker_) = std::move(*devices);

  // Headphones have no echo to cancel.
  const bool echoCancellation = cfg.echoCancellation && !self.speaker_.isBluetooth();
  if (cfg.echoCancellation && !echoCancellation)
    Log::info([&] {
      return "in person: echo cancellation off, " + self.speaker_.name +
             " is a Bluetooth speaker (headphones: no echo to cancel)";
    });
  auto io = self.environment_.realDevices(self.microphone_, self.speaker_, echoCancellation);
  if (!io) return std::unexpected(OrchestratorError::of(io.error()));
  self.io_ = std::move(*io);
  self.echoCancellation_ = static_cast<bool>(self.io_.closeVoiceProcessing);
  self.splitter_ = MicrophoneSplitter::make(self.io_.input);
  self.mixer_ = SpeakerMixer::make(self.io_.output);

  auto build = [&](int index, const std::string& from, const std::string& to) {
    PipelineConfig pipeline("in person " + directionLabel(from, to), self.splitter_->tap(index),
                            self.mixer_->source(index), TranslationOptions(to), cfg.credential);
    pipeline.options.transcribeInput = cfg.transcribeInput;
    pipeline.options.noiseReduction = cfg.noiseReduction;
    pipeline.options.model = "gpt-realtime-translate";
    pipeline.normalizeInput = true;
    pipeline.normalizerResponse = InputNormalizer::Response::room;
    pipeline.silenceGate = false;
    pipeline.clock = self.environment_.clock;
    pipeline.sessionEnvironment = self.environment_.sessionEnvironment;
    pipeline.console = self.environment_.console;
    return TranslationPipeline::make(std::move(pipeline));
  };
  self.outgoing_ = build(0, cfg.myLanguage, cfg.theirLanguage);
  self.incoming_ = build(1, cfg.theirLanguage, cfg.myLanguage);
  forwardEvents(*self.outgoing_, conversation, CallDirection::outgoing, self.environment_.eventQueue);
  forwardEvents(*self.incoming_, conversation, CallDirection::incoming, self.environment_.eventQueue);
  return conversation;
}

Conversation::Conversation(Token, TranslatorConfig config, OrchestratorEnvironment environment)
    : config_(std::move(config)), environment_(std::move(environment)) {}

Conversation::~Conversation() { closeVoiceProcessing(); }

void Conversation::closeVoiceProcessing() {
  if (auto close = std::exchange(io_.closeVoiceProcessing, nullptr)) close();
}

CallDirection Conversation::turn() const {
  return splitter_->activeIndex() == 0 ? CallDirection::outgoing : CallDirection::incoming;
}

void Conversation::setTurn(CallDirection direction) {
  splitter_->setActiveIndex(direction == CallDirection::outgoing ? 0 : 1);
}

std::expected<void, OrchestratorError> Conversation::start() {
  return startPipelines(state_, {outgoing_.get(), incoming_.get()}, 2);
}

void Conversation::handle(CallDirection direction, const PipelineEvent& event) {
  if (!handleSessionEvent(state_, direction, event, 2)) handleEndingEvent(state_, event, [this] { stop(false, {}); });
}

void Conversation::stop(bool fast, std::function<void()> completion) {
  if (state_.is({StateIndex::idle, StateIndex::stopping})) {
    if (completion) completion();
    return;
  }
  state_.set(TranslatorStates::Stopping{});
  std::weak_ptr<Conversation> weak = shared_from_this();
  stopPipelines({outgoing_, incoming_}, fast, environment_.eventQueue, [weak, completion = std::move(completion)] {
    if (auto self = weak.lock()) {
      if (const auto clipped = self->mixer_->clippedSamples(); clipped > 0)
        Log::warn([clipped] { return fmt::format("in person: {} samples of overlapping speech clipped", clipped); });
      self->closeVoiceProcessing();
      self->state_.set(TranslatorStates::Idle{});
    }
    if (completion) completion();
  });
}

}  // namespace oskel
