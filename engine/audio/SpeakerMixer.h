#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "audio/AudioEndpoint.h"

namespace oskel {

// One speaker shared by two pipelines (in person): two sources whose renders
// are summed into the real speaker, which runs while at least one source
// runs. The sum is passed on unchanged while it stays within full scale;
// beyond it a sample is clamped to ±1 and counted, so that overlapping
// translations never clip unnoticed (clippedSamples()).
class SpeakerMixer : public std::enable_shared_from_this<SpeakerMixer> {
 public:
  static constexpr int64_t scratchCapacity = 16384;

  class Source final : public AudioOutputEndpoint {
   public:
    Source(std::weak_ptr<SpeakerMixer> owner, std::string name, double sampleRate)
        : owner_(std::move(owner)), name_(std::move(name)), sampleRate_(sampleRate) {}
    std::string name() const override { return name_; }
    double sampleRate() const override { return sampleRate_; }
    // Read on the speaker's IO thread without a lock: set it before start().
    void setRender(RenderCallback callback) override { render_ = std::move(callback); }
    std::expected<void, AudioIOError> start() override;
    void stop() override;

   private:
    friend class SpeakerMixer;
    std::weak_ptr<SpeakerMixer> owner_;
    const std::string name_;
    const double sampleRate_;
    RenderCallback render_;
    bool running_ = false;  // under the owner's start lock
  };

  // Takes over `real`'s render callback.
  static std::shared_ptr<SpeakerMixer> make(std::shared_ptr<AudioOutputEndpoint> real);
  ~SpeakerMixer();
  SpeakerMixer(const SpeakerMixer&) = delete;
  SpeakerMixer& operator=(const SpeakerMixer&) = delete;

  std::shared_ptr<Source> source(int index) const { return sources_.at(static_cast<size_t>(index)); }
  // Samples of the sum that went beyond full scale and were clamped.
  int64_t clippedSamples() const { return clipped_.load(std::memory_order_relaxed); }

 private:
  struct Token {};

 public:
  SpeakerMixer(Token, std::shared_ptr<AudioOutputEndpoint> real);

 private:
  void mix(std::span<float> frames);  // the speaker's IO thread
  std::expected<void, AudioIOError> startSource(Source& source);
  void stopSource(Source& source);

  const std::shared_ptr<AudioOutputEndpoint> real_;
  std::array<std::shared_ptr<Source>, 2> sources_;
  const std::unique_ptr<float[]> scratch_;
  std::atomic<int64_t> clipped_{0};

  std::mutex startLock_;
  int started_ = 0;
};

}  // namespace oskel
