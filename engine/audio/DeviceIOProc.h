#pragma once

#include <expected>
#include <memory>

#include "audio/AudioDeviceInfo.h"
#include "audio/AudioHost.h"
#include "audio/AudioIOError.h"
#include "audio/DeviceRateWatcher.h"

namespace oskel {

// What capture and playback share: the device's stream format check, the IO
// procedure on the device and the rate watcher guarding the presented rate.
class DeviceIOProc {
 public:
  // The first stream's format in the scope, if the endpoints can use it.
  static std::expected<AudioStreamFormat, AudioIOError> usableFormat(AudioHost& host, const AudioDeviceInfo& device,
                                                                     AudioScope scope);

  DeviceIOProc(std::shared_ptr<AudioHost> host, AudioDeviceInfo device, AudioScope scope, double presentedRate);
  ~DeviceIOProc();
  DeviceIOProc(const DeviceIOProc&) = delete;
  DeviceIOProc& operator=(const DeviceIOProc&) = delete;

  // Starts the watcher, then the IO procedure; nothing when already running.
  std::expected<void, AudioIOError> start(AudioHost::IOHandler handler);
  // Stops the IO procedure, then the watcher; nothing when stopped.
  void stop();
  bool running() const { return stream_ != nullptr; }

  // For the IO thread.
  std::shared_ptr<RateBridge> bridge() const { return watcher_ ? watcher_->current() : nullptr; }

  const AudioDeviceInfo& device() const { return device_; }

 private:
  std::shared_ptr<AudioHost> host_;
  AudioDeviceInfo device_;
  AudioScope scope_;
  double presentedRate_;
  std::unique_ptr<AudioHostStream> stream_;
  std::unique_ptr<DeviceRateWatcher> watcher_;
};

}  // namespace oskel
