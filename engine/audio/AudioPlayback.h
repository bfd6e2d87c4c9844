#pragma once

#include <expected>
#include <memory>

#include "audio/AudioDeviceInfo.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioHost.h"
#include "audio/DeviceIOProc.h"

namespace oskel {

// Plays mono frames on one output device: each sample goes to every channel
// of its frame, only the first output buffer carries sound, and the rate the
// device had at construction is kept for the endpoint's life.
class AudioPlayback final : public AudioOutputEndpoint {
 public:
  static constexpr int64_t maxFrames = 16384;

  static std::expected<std::unique_ptr<AudioPlayback>, AudioIOError> make(std::shared_ptr<AudioHost> host,
                                                                          AudioDeviceInfo device,
                                                                          RenderCallback render = {});
  ~AudioPlayback() override;

  std::string name() const override { return io_.device().name; }
  double sampleRate() const override { return sampleRate_; }
  void setRender(RenderCallback callback) override { render_ = std::move(callback); }
  std::expected<void, AudioIOError> start() override;
  void stop() override;

  int channels() const { return channels_; }
  const AudioDeviceInfo& device() const { return io_.device(); }

 private:
  AudioPlayback(std::shared_ptr<AudioHost> host, AudioDeviceInfo device, const AudioStreamFormat& format);
  void handle(std::span<AudioBuffer> buffers);  // on the IO thread

  double sampleRate_;
  int channels_;
  RenderCallback render_;
  std::unique_ptr<float[]> scratch_;
  DeviceIOProc io_;
};

}  // namespace oskel
