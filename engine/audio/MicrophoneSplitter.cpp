#include "audio/MicrophoneSplitter.h"

#include <algorithm>

namespace oskel {

std::shared_ptr<MicrophoneSplitter> MicrophoneSplitter::make(std::shared_ptr<AudioInputEndpoint> real) {
  auto splitter = std::make_shared<MicrophoneSplitter>(Token{}, std::move(real));
  for (int i = 0; i < 2; ++i)
    splitter->taps_[static_cast<size_t>(i)] =
        std::make_shared<Tap>(splitter, i, splitter->real_->name(), splitter->real_->sampleRate());
  splitter->real_->setOnFrames([weak = std::weak_ptr(splitter)](std::span<const float> frames) {
    if (auto self = weak.lock()) self->deliver(frames);
  });
  return splitter;
}

MicrophoneSplitter::MicrophoneSplitter(Token, std::shared_ptr<AudioInputEndpoint> real)
    : real_(std::move(real)),
      zeros_(std::make_unique<float[]>(zerosCapacity)),
      tailFrames_(static_cast<int64_t>(real_->sampleRate() * tailSeconds)) {}

MicrophoneSplitter::~MicrophoneSplitter() { real_->setOnFrames({}); }

int MicrophoneSplitter::activeIndex() const {
  std::lock_guard guard(lock_);
  return activeIndex_;
}

void MicrophoneSplitter::setActiveIndex(int index) {
  index = index == 0 ? 0 : 1;
  std::lock_guard guard(lock_);
  if (index == activeIndex_) return;
  tailIndex_ = activeIndex_;
  tailLeft_ = tailFrames_;
  activeIndex_ = index;
}

void MicrophoneSplitter::deliver(std::span<const float> frames) {
  const auto n = static_cast<int64_t>(frames.size());
  int active = 0;
  int64_t silence = 0;
  std::optional<int> silent;
  {
    std::lock_guard guard(lock_);
    active = activeIndex_;
    if (tailIndex_) {
      silence = std::min(n, tailLeft_);
      silent = tailIndex_;
      // The whole run counts against the tail, even where it is cut below.
      tailLeft_ -= silence;
      if (tailLeft_ < 1) tailIndex_.reset();
    }
  }
  if (const auto& callback = taps_[static_cast<size_t>(active)]->onFrames_) callback(frames);
  if (silence > 0 && silent) {
    if (const auto& callback = taps_[static_cast<size_t>(*silent)]->onFrames_)
      callback(std::span<const float>(zeros_.get(), static_cast<size_t>(std::min(silence, zerosCapacity))));
  }
}

std::expected<void, AudioIOError> MicrophoneSplitter::startTap(Tap& tap) {
  std::lock_guard guard(startLock_);
  if (tap.running_) return {};
  tap.running_ = true;
  // A failed start still counts, as the pipeline that asked will stop it.
  if (++started_ == 1) return real_->start();
  return {};
}

void MicrophoneSplitter::stopTap(Tap& tap) {
  std::lock_guard guard(startLock_);
  if (!tap.running_) return;
  tap.running_ = false;
  if (--started_ == 0) real_->stop();
}

std::expected<void, AudioIOError> MicrophoneSplitter::Tap::start() {
  if (auto owner = owner_.lock()) return owner->startTap(*this);
  return {};
}

void MicrophoneSplitter::Tap::stop() {
  if (auto owner = owner_.lock()) owner->stopTap(*this);
}

}  // namespace oskel
