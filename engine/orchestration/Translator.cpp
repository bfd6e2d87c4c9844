#include "orchestration/Translator.h"

#include <fmt/format.h>

#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "log/Log.h"
#include "orchestration/PipelineGroup.h"

namespace oskel {
namespace {

constexpr const char* model = "gpt-realtime-translate";

std::optional<double> duckOf(const std::optional<TranslatorConfig::VoiceOver>& voiceOver) {
  return voiceOver ? voiceOver->duckDB : std::nullopt;
}

}  // namespace

std::string directionLabel(const std::string& from, const std::string& to) { return from + "\u2192" + to; }

std::expected<std::shared_ptr<Translator>, OrchestratorError> Translator::make(TranslatorConfig config,
                                                                                OrchestratorEnvironment environment) {
  auto translator = std::make_shared<Translator>(Token{}, std::move(config), std::move(environment));
  auto& self = *translator;
  auto& host = *self.environment_.host;
  const auto& cfg = self.config_;

  auto devices = self.environment_.userDevices(cfg.microphone, cfg.speaker);
  if (!devices) return std::unexpected(devices.error());
  std::tie(self.microphone_, self.speaker_) = std::move(*devices);

  auto virtualMicrophone = AudioDevices::find(host, cfg.virtualMicrophone, AudioDevices::Direction::output);
  if (!virtualMicrophone)
    return std::unexpected(
        OrchestratorError::of(TranslatorError::driverMissing(virtualMicrophone.error().description())));
  auto virtualSpeaker = AudioDevices::find(host, cfg.virtualSpeaker, AudioDevices::Direction::input);
  if (!virtualSpeaker)
    return std::unexpected(OrchestratorError::of(TranslatorError::driverMissing(virtualSpeaker.error().description())));
  self.virtualMicrophone_ = *virtualMicrophone;
  self.virtualSpeaker_ = *virtualSpeaker;
  if (self.virtualMicrophone_.id == self.microphone_.id)
    return std::unexpected(OrchestratorError::of(TranslatorError::sameDevice(self.microphone_.name)));
  if (self.virtualSpeaker_.id == self.speaker_.id)
    return std::unexpected(OrchestratorError::of(TranslatorError::sameDevice(self.speaker_.name)));

  auto io = self.environment_.realDevices(self.microphone_, self.speaker_, cfg.echoCancellation);
  if (!io) return std::unexpected(OrchestratorError::of(io.error()));
  self.io_ = std::move(*io);
  self.echoCancellation_ = static_cast<bool>(self.io_.closeVoiceProcessing);

  auto fail = [&self](std::string text) {
    self.closeVoiceProcessing();
    return std::unexpected(OrchestratorError::of(std::move(text)));
  };
  auto virtualPlayback = AudioPlayback::make(self.environment_.host, self.virtualMicrophone_);
  if (!virtualPlayback) return fail(virtualPlayback.error().description());
  auto virtualCapture = AudioCapture::make(self.environment_.host, self.virtualSpeaker_);
  if (!virtualCapture) return fail(virtualCapture.error().description());

  const auto& voiceOver = cfg.voiceOver;
  using Directions = TranslatorConfig::VoiceOver::Directions;
  auto configure = [&](PipelineConfig& pipeline, bool voiceOverHere) {
    pipeline.options.transcribeInput = cfg.transcribeInput;
    pipeline.options.model = model;
    pipeline.silenceGate = cfg.silenceGate;
    if (voiceOver && voiceOverHere) {
      pipeline.voiceOverGainDB = voiceOver->idleDB;
      pipeline.voiceOverDuckDB = duckOf(voiceOver);
    }
    pipeline.clock = self.environment_.clock;
    pipeline.sessionEnvironment = self.environment_.sessionEnvironment;
    pipeline.console = self.environment_.console;
  };

  PipelineConfig out(directionLabel(cfg.myLanguage, cfg.theirLanguage), self.io_.input, std::move(*virtualPlayback),
                     TranslationOptions(cfg.theirLanguage), cfg.credential);
  configure(out, voiceOver && voiceOver->directions != Directions::incoming);
  out.options.noiseReduction = cfg.noiseReduction;

  PipelineConfig in(directionLabel(cfg.theirLanguage, cfg.myLanguage), std::move(*virtualCapture), self.io_.output,
                    TranslationOptions(cfg.myLanguage), cfg.credential);
  configure(in, voiceOver && voiceOver->directions != Directions::outgoing);
  in.options.noiseReduction = cfg.groupCall ? std::nullopt : cfg.incomingNoiseReduction;
  in.normalizeInput = cfg.normalizeIncoming;
  in.normalizerResponse = cfg.groupCall ? InputNormalizer::Response::room : InputNormalizer::Response::call;

  self.outgoing_ = TranslationPipeline::make(std::move(out));
  self.incoming_ = TranslationPipeline::make(std::move(in));

  forwardEvents(*self.outgoing_, translator, CallDirection::outgoing, self.environment_.eventQueue);
  forwardEvents(*self.incoming_, translator, CallDirection::incoming, self.environment_.eventQueue);
  return translator;
}

Translator::Translator(Token, TranslatorConfig config, OrchestratorEnvironment environment)
    : config_(std::move(config)), environment_(std::move(environment)) {}

Translator::~Translator() {
  closeVoiceProcessing();
  Log::debug([] { return std::string("translator released"); });
}

void Translator::closeVoiceProcessing() {
  if (auto close = std::exchange(io_.closeVoiceProcessing, nullptr)) close();
}

std::expected<void, OrchestratorError> Translator::start() {
  return startPipelines(state_, {outgoing_.get(), incoming_.get()}, 2);
}

// A call goes on through a sign-out: the original voices pass through.
void Translator::handle(CallDirection direction, const PipelineEvent& event) {
  using namespace PipelineEvents;
  using namespace StateIndex;
  if (handleSessionEvent(state_, direction, event, 2)) return;
  if (const auto* fatal = std::get_if<Fatal>(&event)) {
    if (!state_.is({idle, passthrough, stopping})) state_.set(TranslatorStates::Failed{fatal->message});
  } else if (std::holds_alternative<SignedOut>(event)) {
    if (!state_.is({idle, stopping})) enterPassthrough();
    state_.raise(TranslatorEvents::SignedOut{});
  } else if (std::holds_alternative<Passthrough>(event)) {
    if (!state_.is({idle, passthrough, stopping})) enterPassthrough();
  }
}

void Translator::enterPassthrough() {
  outgoing_->enterPassthrough();
  incoming_->enterPassthrough();
  state_.set(TranslatorStates::Passthrough{});
}

void Translator::stop(bool fast, std::function<void()> completion) {
  if (state_.is({StateIndex::idle, StateIndex::stopping})) {
    if (completion) completion();
    return;
  }
  stopRecording();
  state_.set(TranslatorStates::Stopping{});
  std::weak_ptr<Translator> weak = shared_from_this();
  stopPipelines({outgoing_, incoming_}, fast, environment_.eventQueue, [weak, completion = std::move(completion)] {
    if (auto self = weak.lock()) {
      self->closeVoiceProcessing();
      self->state_.set(TranslatorStates::Idle{});
    }
    if (completion) completion();
  });
}

void Translator::setVoiceOverLevels(double idleDB, std::optional<double> duckDB) {
  outgoing_->setVoiceOverLevels(idleDB, duckDB);
  incoming_->setVoiceOverLevels(idleDB, duckDB);
}

std::expected<void, std::string> Translator::startRecording(const std::filesystem::path& url,
                                                            CallRecorder::Options options) {
  std::lock_guard guard(recorderLock_);
  if (recorder_ || state_.is({StateIndex::idle, StateIndex::stopping})) return {};
  auto created = CallRecorder::create(url, outgoing_->outputSampleRate(), incoming_->outputSampleRate(),
                                      std::move(options));
  if (!created) return std::unexpected(created.error().description());
  recorder_ = std::move(*created);
  outgoing_->setOutputTap([recorder = recorder_](std::span<const float> block) {
    if (!block.empty()) recorder->writeLeft(block);
  });
  incoming_->setOutputTap([recorder = recorder_](std::span<const float> block) {
    if (!block.empty()) recorder->writeRight(block);
  });
  return {};
}

std::optional<CallRecorder::Result> Translator::stopRecording() {
  std::shared_ptr<CallRecorder> recorder;
  {
    std::lock_guard guard(recorderLock_);
    if (!recorder_) return std::nullopt;
    outgoing_->setOutputTap({});
    incoming_->setOutputTap({});
    recorder = std::exchange(recorder_, nullptr);
  }
  return recorder->stop();
}

bool Translator::isRecording() const {
  std::lock_guard guard(recorderLock_);
  return recorder_ != nullptr;
}

double Translator::speechSeconds() const { return outgoing_->speechSeconds(); }
double Translator::theirSpeechSeconds() const { return incoming_->speechSeconds(); }
double Translator::translatedSeconds() const {
  return outgoing_->translatedSeconds() + incoming_->translatedSeconds();
}

std::string Translator::summary() const {
  const auto& my = config_.myLanguage;
  const auto& their = config_.theirLanguage;
  std::string text = fmt::format("you  ({}) --{}--> {}   \u2190 select this as Zoom's Microphone\n", microphone_.name,
                                 directionLabel(my, their), virtualMicrophone_.name);
  text += fmt::format("them ({}) --{}--> {}   \u2190 select {} as Zoom's Speaker", virtualSpeaker_.name,
                      directionLabel(their, my), speaker_.name, virtualSpeaker_.name);
  if (const auto& voiceOver = config_.voiceOver) {
    text += fmt::format("\nvoice-over ({}): original voice at {:.0f} dB", rawValue(voiceOver->directions),
                        voiceOver->idleDB);
    text += voiceOver->duckDB ? fmt::format(", ducked to {:.0f} dB while translating", *voiceOver->duckDB)
                              : std::string(" (constant)");
  }
  if (config_.groupCall)
    text += "\ngroup call: no noise reduction on their audio, normalizer follows a change of talker in ~0.1 s";
  if (echoCancellationActive()) {
    const auto name = io_.voiceProcessingName.empty() ? std::string("the audio server's echo canceller")
                                                      : io_.voiceProcessingName;
    text += fmt::format("\necho cancellation: on ({} on {} + {})", name, microphone_.name, speaker_.name);
  } else {
    text += "\necho cancellation: off";
    if (config_.echoCancellation) text += " (virtual devices)";
    text += " \u2014 use headphones";
  }
  return text;
}

}  // namespace oskel
