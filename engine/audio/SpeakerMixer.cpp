#include "audio/SpeakerMixer.h"

#include <algorithm>

namespace oskel {

std::shared_ptr<SpeakerMixer> SpeakerMixer::make(std::shared_ptr<AudioOutputEndpoint> real) {
  auto mixer = std::make_shared<SpeakerMixer>(Token{}, std::move(real));
  for (size_t i = 0; i < 2; ++i)
    mixer->sources_[i] = std::make_shared<Source>(mixer, mixer->real_->name(), mixer->real_->sampleRate());
  mixer->real_->setRender([weak = std::weak_ptr(mixer)](std::span<float> frames) {
    if (auto self = weak.lock()) {
      self->mix(frames);
    } else {
      std::ranges::fill(frames, 0.0f);
    }
  });
  return mixer;
}

SpeakerMixer::SpeakerMixer(Token, std::shared_ptr<AudioOutputEndpoint> real)
    : real_(std::move(real)), scratch_(std::make_unique<float[]>(scratchCapacity)) {}

SpeakerMixer::~SpeakerMixer() { real_->setRender({}); }

void SpeakerMixer::mix(std::span<float> frames) {
  if (frames.empty()) return;
  if (const auto& first = sources_[0]->render_) {
    first(frames);
  } else {
    std::ranges::fill(frames, 0.0f);
  }
  const auto& second = sources_[1]->render_;
  if (!second) return;
  const auto m = std::min<size_t>(frames.size(), scratchCapacity);
  second(std::span<float>(scratch_.get(), m));
  int64_t clipped = 0;
  for (size_t i = 0; i < m; ++i) {
    const float sum = frames[i] + scratch_[i];
    if (sum > 1.0f || sum < -1.0f) ++clipped;
    frames[i] = std::clamp(sum, -1.0f, 1.0f);
  }
  if (clipped > 0) clipped_.fetch_add(clipped, std::memory_order_relaxed);
}

std::expected<void, AudioIOError> SpeakerMixer::startSource(Source& source) {
  std::lock_guard guard(startLock_);
  if (source.running_) return {};
  source.running_ = true;
  if (++started_ == 1) return real_->start();
  return {};
}

void SpeakerMixer::stopSource(Source& source) {
  std::lock_guard guard(startLock_);
  if (!source.running_) return;
  source.running_ = false;
  if (--started_ == 0) real_->stop();
}

std::expected<void, AudioIOError> SpeakerMixer::Source::start() {
  if (auto owner = owner_.lock()) return owner->startSource(*this);
  return {};
}

void SpeakerMixer::Source::stop() {
  if (auto owner = owner_.lock()) owner->stopSource(*this);
}

}  // namespace oskel
