#pragma once

#include <expected>
#include <memory>

#include "audio/AudioDeviceInfo.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioHost.h"
#include "audio/DeviceIOProc.h"

namespace oskel {

// Records mono frames from one input device: every frame's channels are
// averaged, runs are cut at 16384 frames, and the rate the device had at
// construction is kept for the endpoint's life (a rate bridge covers later
// changes of the device).
class AudioCapture final : public AudioInputEndpoint {
 public:
  static constexpr int64_t maxFrames = 16384;

  static std::expected<std::unique_ptr<AudioCapture>, AudioIOError> make(std::shared_ptr<AudioHost> host,
                                                                         AudioDeviceInfo device,
                                                                         FramesCallback onFrames = {});
  ~AudioCapture() override;

  std::string name() const override { return io_.device().name; }
  double sampleRate() const override { return sampleRate_; }
  void setOnFrames(FramesCallback callback) override { onFrames_ = std::move(callback); }
  std::expected<void, AudioIOError> start() override;
  void stop() override;

  int sourceChannels() const { return sourceChannels_; }
  const AudioDeviceInfo& device() const { return io_.device(); }

 private:
  AudioCapture(std::shared_ptr<AudioHost> host, AudioDeviceInfo device, const AudioStreamFormat& format);
  void handle(std::span<AudioBuffer> buffers);  // on the IO thread

  double sampleRate_;
  int sourceChannels_;
  FramesCallback onFrames_;
  std::unique_ptr<float[]> scratch_;
  DeviceIOProc io_;
};

}  // namespace oskel
