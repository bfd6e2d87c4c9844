#include "pipeline/TranslationPipeline.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <variant>

#include <fmt/format.h>

#include "dsp/PCM16.h"
#include "log/Log.h"
#include "pipeline/TranscriptConsole.h"

namespace oskel {

namespace {

std::atomic<float> speechThreshold{-35.0f};

constexpr float gateThresholdDB = -50.0f;
constexpr double gateHoldSeconds = 30.0;
constexpr double stallTimeout = 8.0;
constexpr double stallRotationInterval = 30.0;
constexpr double stallPause = 1.5;

template <class... F>
struct Overloaded : F... {
  using F::operator()...;
};

// Whole seconds as the log lines show them (truncated).
long long wholeSeconds(double seconds) { return static_cast<long long>(seconds); }

}  // namespace

float TranslationPipeline::speechThresholdDB() { return speechThreshold.load(std::memory_order_relaxed); }

void TranslationPipeline::setSpeechThresholdDB(float dBFS) { speechThreshold.store(dBFS, std::memory_order_relaxed); }

std::shared_ptr<TranslationPipeline> TranslationPipeline::make(PipelineConfig config) {
  auto pipeline = std::make_shared<TranslationPipeline>(Token{}, std::move(config));
  pipeline->session_ = pipeline->makeSession();
  return pipeline;
}

TranslationPipeline::TranslationPipeline(Token, PipelineConfig config)
    : config_(std::move(config)),
      prefix_("[" + config_.label),
      inputRate_(config_.input->sampleRate()),
      outputRate_(config_.output->sampleRate()),
      chunkFrames_(std::max<int64_t>(1, static_cast<int64_t>(config_.chunkSeconds * serviceRate))),
      captureRing_(std::make_shared<FloatRingBuffer>(captureCapacity)),
      playout_(std::make_shared<PipelinePlayout>(outputRate_, config_.voiceOverGainDB, config_.voiceOverDuckDB)),
      inputResampler_(inputRate_, serviceRate),
      voiceOverResampler_(inputRate_, outputRate_),
      outputResampler_(serviceRate, outputRate_),
      stallWatch_(speechThresholdDB(), stallTimeout, stallRotationInterval, stallPause,
                  config_.options.transcribeInput) {
  // Nothing but a copy into the ring happens on the capture thread.
  config_.input->setOnFrames([ring = captureRing_](std::span<const float> frames) { ring->write(frames); });
  config_.output->setRender([playout = playout_](std::span<float> out) { playout->render(out); });
  if (config_.normalizeInput)
    normalizer_.emplace(-20.0f, 18.0f, -55.0f, encoderPeriod, config_.normalizerResponse);
  if (config_.silenceGate) gate_.emplace(gateThresholdDB, gateHoldSeconds);
  pending_.reserve(static_cast<size_t>(2 * chunkFrames_));
}

TranslationPipeline::~TranslationPipeline() {
  // Only a pipeline whose start failed half-way and that was never stopped
  // gets here with endpoints still running.
  if (running_.load(std::memory_order_acquire)) {
    config_.input->stop();
    config_.output->stop();
  }
}

std::shared_ptr<TranslationSession> TranslationPipeline::makeSession() {
  auto session = config_.sessionEnvironment
                     ? TranslationSession::create(config_.credential, config_.options, config_.label,
                                                  *config_.sessionEnvironment)
                     : TranslationSession::create(config_.credential, config_.options, config_.label);
  session->setOnEvent([weak = weak_from_this()](const TranslationEvent& event) {
    if (auto self = weak.lock()) self->handle(event);
  });
  return session;
}

std::shared_ptr<TranslationSession> TranslationPipeline::currentSession() const {
  std::lock_guard guard(sessionLock_);
  return session_;
}

void TranslationPipeline::swapSession(std::shared_ptr<TranslationSession> fresh) {
  {
    std::lock_guard guard(sessionLock_);
    std::swap(session_, fresh);
  }
  // `fresh` now holds the old session. It was stopped on entering
  // passthrough; stopping again is harmless and keeps it alive (through its
  // own completion) until its last translation has drained.
  if (fresh) fresh->stop(passthroughStopTimeout, [old = fresh] {});
}

WallTime TranslationPipeline::wallNow() const { return WallTime(config_.clock->wallNow()); }

TranscriptConsole& TranslationPipeline::console() const {
  return config_.console ? *config_.console : TranscriptConsole::shared();
}

// MARK: Owner's operations

std::expected<void, AudioIOError> TranslationPipeline::start(bool passthrough) {
  if (stopped_.load(std::memory_order_acquire) || running_.exchange(true, std::memory_order_acq_rel)) return {};

  Log::info([&] {
    std::string line = fmt::format("{}] {} ({} Hz) -> {} -> {} ({} Hz)", prefix_, config_.input->name(),
                                   static_cast<long long>(inputRate_), config_.options.targetLanguage,
                                   config_.output->name(), static_cast<long long>(outputRate_));
    if (config_.voiceOverGainDB) {
      if (config_.voiceOverDuckDB)
        line += fmt::format(", voice-over: original at {:.0f} dB, ducked to {:.0f} dB while translating",
                            *config_.voiceOverGainDB, *config_.voiceOverDuckDB);
      else
        line += fmt::format(", voice-over: original at a constant {:.0f} dB", *config_.voiceOverGainDB);
    }
    return line;
  });

  if (passthrough)
    enterPassthrough(false);
  else
    currentSession()->start();

  if (auto started = config_.input->start(); !started) return started;
  if (auto started = config_.output->start(); !started) return started;

  encoder_ = std::make_unique<SerialQueue>("oskel.encoder." + config_.label, config_.clock);
  encoderHold_ = shared_from_this();
  encoder_->post([this] {
    encoderTimer_ = encoder_->scheduleRepeating(delayFromSeconds(encoderPeriod), delayFromSeconds(encoderPeriod),
                                                [this] { encoderTick(); });
  });
  return {};
}

void TranslationPipeline::stop(double sessionTimeout, std::function<void()> completion) {
  if (!running_.exchange(false, std::memory_order_acq_rel)) {
    if (completion) completion();
    return;
  }
  stopped_.store(true, std::memory_order_release);
  config_.input->stop();
  currentSession()->stop(sessionTimeout, [self = shared_from_this(), completion = std::move(completion)] {
    self->finishStop(completion);
  });
}

void TranslationPipeline::finishStop(const std::function<void()>& completion) {
  config_.output->stop();
  console().flushLine();
  std::string gateSummary;
  {
    std::lock_guard guard(gateLock_);
    if (gate_ && gate_->closures() > 0) gateSummary = gate_->summary(wallNow());
  }
  Log::info([&] {
    return fmt::format("{}] stopped: sent {:.1f}s, received {:.1f}s of audio", prefix_,
                       static_cast<double>(framesSent()) / serviceRate,
                       static_cast<double>(framesReceived()) / serviceRate) +
           (gateSummary.empty() ? "" : ", " + gateSummary);
  });
  if (completion) completion();
}

void TranslationPipeline::enterPassthrough() { enterPassthrough(true); }

void TranslationPipeline::enterPassthrough(bool announce) {
  if (playout_->passthrough.turnOn()) {
    playout_->passthroughRing.clear();
    playout_->requestClear(true, false);
    currentSession()->stop(passthroughStopTimeout, {});
    Log::info([&] { return prefix_ + "] passthrough — capture routed to playback"; });
  }
  if (announce) emit(PipelineEvents::Passthrough{});
}

void TranslationPipeline::resumeTranslation() {
  if (!running_.load(std::memory_order_acquire)) return;
  playout_->passthrough.set(false);
  playout_->passthroughRing.clear();
  playout_->requestClear(true, true);
  auto fresh = makeSession();
  swapSession(fresh);
  Log::info([&] { return prefix_ + "] resuming translation"; });
  fresh->start();
}

void TranslationPipeline::setOutputTap(OutputTap::Callback callback) { playout_->tap.set(std::move(callback)); }

void TranslationPipeline::setVoiceOverLevels(double idleDB, std::optional<double> duckDB) {
  playout_->setVoiceOverLevels(idleDB, duckDB);
}

void TranslationPipeline::setOnEvent(EventHandler handler) {
  std::lock_guard guard(eventLock_);
  onEvent_ = std::move(handler);
}

std::optional<float> TranslationPipeline::inputLevelDB() const {
  const float level = inputLevelDB_.load(std::memory_order_relaxed);
  return std::isnan(level) ? std::nullopt : std::optional(level);
}

double TranslationPipeline::speechSeconds() const {
  return static_cast<double>(speechFrames_.load(std::memory_order_relaxed)) / inputRate_;
}

double TranslationPipeline::translatedSeconds() const {
  return static_cast<double>(translatedFrames_.load(std::memory_order_relaxed)) / serviceRate;
}

// MARK: Encoder

void TranslationPipeline::encoderTick() {
  // Drained into a buffer kept from tick to tick: the block is the same size
  // every 20 ms, so after the first ticks nothing is allocated for it.
  const auto available = std::min<int64_t>(captureRing_->available(), captureCapacity);
  if (available > 0) {
    block_.resize(static_cast<size_t>(available));
    block_.resize(static_cast<size_t>(captureRing_->read(block_.data(), available)));
    if (!block_.empty()) encode(wallNow());
  }
  if (!running_.load(std::memory_order_acquire)) finishEncoder();  // may release the pipeline: last
}

void TranslationPipeline::finishEncoder() {
  encoderTimer_.cancel();
  inputLevelDB_.store(std::numeric_limits<float>::quiet_NaN(), std::memory_order_relaxed);
  pending_.clear();
  held_.reset();
  block_ = {};
  auto hold = std::move(encoderHold_);
}

void TranslationPipeline::meter(float levelDB, size_t frames) {
  float shown = std::max(levelDB, inputLevelFloorDB);
  const float previous = inputLevelDB_.load(std::memory_order_relaxed);
  if (!std::isnan(previous)) {
    const auto fall = inputLevelReleaseDBPerSecond * static_cast<double>(frames) / inputRate_;
    shown = std::max(shown, previous - static_cast<float>(fall));
  }
  inputLevelDB_.store(shown, std::memory_order_relaxed);
}

// At equal rates the block is written as it is, without the resampler's copy.
template <class Sink>
void TranslationPipeline::writeAtOutputRate(Sink& sink) {
  if (inputRate_ == outputRate_)
    sink.write(std::span<const float>(block_));
  else
    sink.write(voiceOverResampler_.process(std::span<const float>(block_)));
}

void TranslationPipeline::encode(WallTime now) {
  // Measured before passthrough, so the meter keeps moving in direct mode.
  const float level = PCM16::dBFS(block_);
  meter(level, block_.size());
  if (playout_->passthrough.value()) {
    writeAtOutputRate(playout_->passthroughRing);
    pending_.clear();
    held_.reset();
    return;
  }

  if (playout_->hasVoiceOver()) writeAtOutputRate(playout_->voiceOver);

  if (level > speechThresholdDB())
    speechFrames_.fetch_add(static_cast<int64_t>(block_.size()), std::memory_order_relaxed);

  bool gateClosed = false;
  if (gate_) {
    SilenceGate::Transition transition;
    {
      std::lock_guard guard(gateLock_);
      transition = gate_->update(level, now);
      gateClosed = gate_->isClosed();
    }
    if (transition == SilenceGate::Transition::opened)
      Log::debug([&] { return prefix_ + "] silence gate opened; sending audio again"; });
    else if (transition == SilenceGate::Transition::closed)
      Log::debug([&] {
        return fmt::format("{}] silence gate closed after {}s of quiet; not sending audio", prefix_,
                           wholeSeconds(gateHoldSeconds));
      });
  }

  if (normalizer_) block_ = normalizer_->process(std::move(block_));

  if (inputRate_ == serviceRate) {
    pending_.insert(pending_.end(), block_.begin(), block_.end());
  } else {
    const auto converted = inputResampler_.process(std::span<const float>(block_));
    pending_.insert(pending_.end(), converted.begin(), converted.end());
  }
  if (static_cast<int64_t>(pending_.size()) >= chunkFrames_) sendChunk(gateClosed);

  checkStall(level, now);
  logLevel(level, now, gateClosed);
}

void TranslationPipeline::sendChunk(bool gateClosed) {
  auto chunk = PCM16::encode(pending_);
  const auto samples = static_cast<int64_t>(pending_.size());
  pending_.clear();
  if (gateClosed) {
    // Only the newest chunk is kept, so the onset of the next speech is sent.
    held_ = std::move(chunk);
    framesGated_.fetch_add(samples, std::memory_order_relaxed);
    return;
  }
  const auto session = currentSession();
  if (held_) {
    const auto heldSamples = static_cast<int64_t>(held_->size() / 2);
    framesGated_.fetch_sub(heldSamples, std::memory_order_relaxed);
    framesSent_.fetch_add(heldSamples, std::memory_order_relaxed);
    session->appendAudio(std::move(*held_));
    held_.reset();
  }
  framesSent_.fetch_add(samples, std::memory_order_relaxed);
  session->appendAudio(std::move(chunk));
}

void TranslationPipeline::checkStall(float levelDB, WallTime now) {
  std::optional<OutputStallWatch::Stall> stall;
  {
    std::lock_guard guard(stallLock_);
    stall = stallWatch_.update(levelDB, now);
  }
  if (!stall) return;
  Log::warn([&] {
    return fmt::format("{}] speech going in for {}s{} but no translated speech back for {}s — rotating to a fresh "
                       "session",
                       prefix_, wholeSeconds(stall->talking), stall->transcribing ? " (still being transcribed)" : "",
                       wholeSeconds(stall->quiet));
  });
  currentSession()->rotate(
      fmt::format("no translated speech for {}s while speech was captured", wholeSeconds(stall->quiet)));
}

void TranslationPipeline::logLevel(float levelDB, WallTime now, bool gateClosed) {
  if (!Log::verbose() || secondsBetween(lastLevelLog_, now) <= levelLogInterval) return;
  lastLevelLog_ = now;
  Log::debug([&] {
    std::string line =
        fmt::format("{}] input {:.0f} dBFS, translation buffer {:.2f}s", prefix_, levelDB,
                    static_cast<double>(playout_->translation.available()) / outputRate_);
    if (const auto gain = playout_->voiceOverGain())
      line += fmt::format(", voice-over gain {:.0f} dB", 20.0 * std::log10(std::max<double>(*gain, 1e-6)));
    if (gateClosed) line += ", silence gate closed";
    return line;
  });
}

// MARK: Session events

void TranslationPipeline::handle(const TranslationEvent& event) {
  namespace In = TranslationEvents;
  std::visit(Overloaded{
                 [&](const In::Connected&) { emit(PipelineEvents::Connected{}); },
                 [&](const In::OutputAudio& audio) { receiveAudio(audio.pcm16); },
                 [&](const In::OutputTranscript& transcript) {
                   noteOutput();
                   console().append(config_.label, "said", transcript.text);
                   emit(PipelineEvents::Transcript{TranscriptKind::said, transcript.text});
                 },
                 [&](const In::InputTranscript& transcript) {
                   {
                     std::lock_guard guard(stallLock_);
                     stallWatch_.heard(wallNow());
                   }
                   console().append(config_.label, "heard", transcript.text);
                   emit(PipelineEvents::Transcript{TranscriptKind::heard, transcript.text});
                 },
                 [&](const In::ServerError& error) {
                   Log::error([&] { return prefix_ + "] " + error.message; });
                   emit(PipelineEvents::Error{error.message});
                 },
                 [&](const In::Disconnected& disconnected) {
                   Log::warn([&] { return prefix_ + "] disconnected: " + disconnected.reason; });
                   emit(PipelineEvents::Disconnected{disconnected.reason});
                 },
                 [&](const In::Fatal& fatal) { emit(PipelineEvents::Fatal{fatal.message}); },
                 [&](const In::Ready&) { emit(PipelineEvents::Ready{}); },
                 [&](const In::SignedOut&) {
                   enterPassthrough(false);
                   emit(PipelineEvents::SignedOut{});
                 },
                 [&](const In::Closed&) {},
             },
             event);
}

void TranslationPipeline::flushTranslation() {
  auto& playout = playout_->translation;
  const auto missing = playout.prefill() - playout.available();
  if (missing > 0) playout.write(std::vector<float>(static_cast<size_t>(missing), 0.0f));
}

void TranslationPipeline::receiveAudio(const std::vector<uint8_t>& pcm16) {
  auto samples = PCM16::decode(pcm16);
  const auto count = static_cast<int64_t>(samples.size());
  // The service pads its answers with near-silence; playing it would only
  // start the playout (and the ducking) early.
  if (!(PCM16::dBFS(samples) > translatedFloorDB)) {
    framesReceived_.fetch_add(count, std::memory_order_release);
    return;
  }
  noteOutput();
  translatedFrames_.fetch_add(count, std::memory_order_relaxed);
  std::vector<float> converted;
  {
    std::lock_guard guard(outputLock_);
    converted = outputResampler_.process(std::move(samples));
  }
  playout_->translation.write(converted);
  // Counted once queued, so whoever sees the count can also play the samples.
  framesReceived_.fetch_add(count, std::memory_order_release);
}

void TranslationPipeline::noteOutput() {
  const WallTime now = wallNow();
  std::optional<double> stalledFor;
  {
    std::lock_guard guard(stallLock_);
    stalledFor = stallWatch_.translated(now);
  }
  if (stalledFor)
    Log::info([&] { return fmt::format("{}] translation resumed after a {}s stall", prefix_, wholeSeconds(*stalledFor)); });
}

void TranslationPipeline::emit(const PipelineEvent& event) {
  EventHandler handler;
  {
    std::lock_guard guard(eventLock_);
    handler = onEvent_;
  }
  if (handler) handler(event);
}

}  // namespace oskel
