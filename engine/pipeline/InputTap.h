#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>

#include "audio/AudioEndpoint.h"

namespace oskel {

// An input endpoint that shows every run of captured frames to an observer
// before passing it on: the command line records what a pipeline captures
// through it. The observer runs on the capture thread and must keep to its
// rules; set it before start().
class InputTap final : public AudioInputEndpoint {
 public:
  using Observer = std::function<void(std::span<const float> frames)>;

  explicit InputTap(std::shared_ptr<AudioInputEndpoint> source);
  // Stops the source and unbinds it.
  ~InputTap() override;

  void setObserver(Observer observer) { observer_ = std::move(observer); }

  std::string name() const override { return source_->name(); }
  double sampleRate() const override { return source_->sampleRate(); }
  void setOnFrames(FramesCallback callback) override { onFrames_ = std::move(callback); }
  std::expected<void, AudioIOError> start() override { return source_->start(); }
  void stop() override { source_->stop(); }

 private:
  std::shared_ptr<AudioInputEndpoint> source_;
  Observer observer_;
  FramesCallback onFrames_;
};

}  // namespace oskel
