#include "pipeline/PipelinePlayout.h"

#include <algorithm>

#include "dsp/RealtimeSection.h"

namespace oskel {

namespace {

int64_t samplesFor(double seconds, double rate) { return static_cast<int64_t>(seconds * rate); }

std::optional<float> asFloat(std::optional<double> value) {
  if (!value) return std::nullopt;
  return static_cast<float>(*value);
}

}  // namespace

PipelinePlayout::PipelinePlayout(double outputRate, std::optional<double> voiceOverGainDB,
                                 std::optional<double> voiceOverDuckDB)
    : outputRate_(outputRate),
      // Playout starts once 120 ms are buffered; a backlog beyond 6 s is cut
      // back to 120 ms so latency cannot creep up. Since a read never keeps
      // more than the maximum depth, a store 2 s beyond it plays exactly as a
      // larger one would, and the zero-filled store is resident from the start.
      translation(samplesFor(8.0, outputRate), samplesFor(0.12, outputRate), samplesFor(6.0, outputRate)),
      voiceOver(samplesFor(2.3, outputRate), samplesFor(0.04, outputRate), samplesFor(0.3, outputRate)),
      passthroughRing(samplesFor(4.0, outputRate)),
      scratch_(std::make_unique<float[]>(mixScratchFrames)) {
  if (voiceOverGainDB) {
    ducker_.emplace(static_cast<float>(*voiceOverGainDB), asFloat(voiceOverDuckDB), outputRate, 0.02, 0.25, 0.3);
    publishedGain_.store(ducker_->currentGain(), std::memory_order_relaxed);
  }
}

void PipelinePlayout::render(std::span<float> out) {
  realtime::Section section;
  if (clearTranslation_.exchange(false, std::memory_order_acq_rel)) translation.clear();
  if (clearVoiceOver_.exchange(false, std::memory_order_acq_rel)) voiceOver.clear();

  if (passthrough.value()) {
    passthroughRing.read(out);
  } else {
    const int64_t got = translation.read(out);
    if (ducker_) {
      const int64_t wanted = std::min<int64_t>(static_cast<int64_t>(out.size()), mixScratchFrames);
      const int64_t voice = voiceOver.read(scratch_.get(), wanted);
      ducker_->mix(scratch_.get(), out.data(), voice, got > 0);
      publishedGain_.store(ducker_->currentGain(), std::memory_order_relaxed);
    }
  }
  tap.deliver(out);
}

void PipelinePlayout::requestClear(bool translationBuffer, bool voiceOverBuffer) {
  if (translationBuffer) clearTranslation_.store(true, std::memory_order_release);
  if (voiceOverBuffer) clearVoiceOver_.store(true, std::memory_order_release);
}

void PipelinePlayout::setVoiceOverLevels(double idleDB, std::optional<double> duckDB) {
  if (ducker_) ducker_->setLevels(static_cast<float>(idleDB), asFloat(duckDB));
}

std::optional<float> PipelinePlayout::voiceOverGain() const {
  if (!ducker_) return std::nullopt;
  return publishedGain_.load(std::memory_order_relaxed);
}

}  // namespace oskel
