#include "orchestration/Conversation.h"

#include <fmt/format.h>

#include "audio/AudioDevices.h"
#include "log/Log.h"
#include "orchestration/PipelineStops.h"
#include "orchestration/Translator.h"

namespace oskel {

std::expected<std::shared_ptr<Conversation>, OrchestratorError> Conversation::make(
    TranslatorConfig config, OrchestratorEnvironment environment) {
  auto conversation = std::make_shared<Conversation>(Token{}, std::move(config), std::move(environment));
  auto& self = *conversation;
  auto& host = *self.environment_.host;
  const auto& cfg = self.config_;

  auto microphone = cfg.microphone ? cfg.microphone : AudioDevices::defaultInput(host);
  if (!microphone) return std::unexpected(OrchestratorError::of(TranslatorError::noDefaultDevices()));
  auto speaker = cfg.speaker ? cfg.speaker : AudioDevices::defaultOutput(host);
  if (!speaker) return std::unexpected(OrchestratorError::of(TranslatorError::noDefaultDevices()));
  self.microphone_ = *microphone;
  self.speaker_ = *speaker;

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
  if (!state_.is({StateIndex::idle})) return {};
  state_.set(TranslatorStates::Starting{});
  for (auto* pipeline : {outgoing_.get(), incoming_.get()}) {
    if (auto started = pipeline->start(); !started) {
      auto text = started.error().description();
      state_.set(TranslatorStates::Failed{text});
      return std::unexpected(OrchestratorError::of(std::move(text)));
    }
  }
  state_.connecting(2);
  return {};
}

void Conversation::handle(CallDirection direction, const PipelineEvent& event) {
  using namespace PipelineEvents;
  using namespace StateIndex;
  if (const auto* transcript = std::get_if<Transcript>(&event)) {
    state_.raise(TranslatorEvents::Transcript{{direction, transcript->kind, transcript->text}});
  } else if (std::holds_alternative<Ready>(event)) {
    state_.directionReady(direction, 2);
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
