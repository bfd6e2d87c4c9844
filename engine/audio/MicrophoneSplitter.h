#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "audio/AudioEndpoint.h"
#include "dsp/UnfairLock.h"

namespace oskel {

// One microphone shared by two pipelines that take turns (in person): the
// microphone's frames go to exactly one of two taps, the active one. When
// the turn moves, the tap that lost the microphone is handed 1.5 s of
// silence, one run per microphone callback, so its pipeline hears the
// speaker stop instead of being cut off mid-stream. The real microphone
// runs while at least one tap runs.
class MicrophoneSplitter : public std::enable_shared_from_this<MicrophoneSplitter> {
 public:
  static constexpr int64_t zerosCapacity = 16384;
  static constexpr double tailSeconds = 1.5;

  class Tap final : public AudioInputEndpoint {
   public:
    Tap(std::weak_ptr<MicrophoneSplitter> owner, int index, std::string name, double sampleRate)
        : owner_(std::move(owner)), index_(index), name_(std::move(name)), sampleRate_(sampleRate) {}
    std::string name() const override { return name_; }
    double sampleRate() const override { return sampleRate_; }
    // Read on the microphone's IO thread without a lock: set it before start().
    void setOnFrames(FramesCallback callback) override { onFrames_ = std::move(callback); }
    std::expected<void, AudioIOError> start() override;
    void stop() override;

   private:
    friend class MicrophoneSplitter;
    std::weak_ptr<MicrophoneSplitter> owner_;
    const int index_;
    const std::string name_;
    const double sampleRate_;
    FramesCallback onFrames_;
    bool running_ = false;  // under the owner's start lock
  };

  // Takes over `real`'s frame callback.
  static std::shared_ptr<MicrophoneSplitter> make(std::shared_ptr<AudioInputEndpoint> real);
  ~MicrophoneSplitter();
  MicrophoneSplitter(const MicrophoneSplitter&) = delete;
  MicrophoneSplitter& operator=(const MicrophoneSplitter&) = delete;

  std::shared_ptr<Tap> tap(int index) const { return taps_.at(static_cast<size_t>(index)); }
  // The tap that hears the microphone (0 or 1); switching to another starts
  // the silence tail for the previous one. Any thread, also while audio flows.
  int activeIndex() const;
  void setActiveIndex(int index);

  int64_t tailFrames() const { return tailFrames_; }

 private:
  struct Token {};

 public:
  MicrophoneSplitter(Token, std::shared_ptr<AudioInputEndpoint> real);

 private:
  void deliver(std::span<const float> frames);  // the microphone's IO thread
  std::expected<void, AudioIOError> startTap(Tap& tap);
  void stopTap(Tap& tap);

  const std::shared_ptr<AudioInputEndpoint> real_;
  std::array<std::shared_ptr<Tap>, 2> taps_;
  const std::unique_ptr<float[]> zeros_;
  const int64_t tailFrames_;

  mutable UnfairLock lock_;  // routing: the three fields below
  int activeIndex_ = 0;
  std::optional<int> tailIndex_;
  int64_t tailLeft_ = 0;

  // Starting the real device can take a while; the routing lock, which the
  // IO thread takes, is never held for it.
  std::mutex startLock_;
  int started_ = 0;
};

}  // namespace oskel
