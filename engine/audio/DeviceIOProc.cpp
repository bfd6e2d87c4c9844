#include "audio/DeviceIOProc.h"

namespace oskel {

std::expected<AudioStreamFormat, AudioIOError> DeviceIOProc::usableFormat(AudioHost& host,
                                                                          const AudioDeviceInfo& device,
                                                                          AudioScope scope) {
  const bool input = scope == AudioScope::input;
  const int channels = input ? device.inputChannels : device.outputChannels;
  const auto format = channels > 0 ? host.streamFormat(device.id, scope) : std::nullopt;
  if (!format) return std::unexpected(AudioIOError::noStreams(device.name, input ? "input" : "output"));
  if (auto usable = validateFloat32Interleaved(*format, device.name); !usable) {
    return std::unexpected(usable.error());
  }
  return *format;
}

DeviceIOProc::DeviceIOProc(std::shared_ptr<AudioHost> host, AudioDeviceInfo device, AudioScope scope,
                           double presentedRate)
    : host_(std::move(host)), device_(std::move(device)), scope_(scope), presentedRate_(presentedRate) {}

DeviceIOProc::~DeviceIOProc() { stop(); }

std::expected<void, AudioIOError> DeviceIOProc::start(AudioHost::IOHandler handler) {
  if (stream_) return {};
  if (!watcher_) {
    watcher_ = std::make_unique<DeviceRateWatcher>(host_, device_, presentedRate_,
                                                   scope_ == AudioScope::input ? "capture" : "playback");
  }
  watcher_->start();
  auto stream = host_->openStream(device_.id, scope_, std::move(handler));
  if (!stream || !*stream) {
    watcher_->stop();
    return std::unexpected(
        AudioIOError::coreAudio("AudioDeviceCreateIOProcID(" + device_.name + ")", stream ? 0 : stream.error()));
  }
  if (const auto status = (*stream)->start(); status != 0) {
    stream->reset();
    watcher_->stop();
    return std::unexpected(AudioIOError::coreAudio("AudioDeviceStart(" + device_.name + ")", status));
  }
  stream_ = std::move(*stream);
  return {};
}

void DeviceIOProc::stop() {
  if (!stream_) return;
  stream_->stop();
  stream_.reset();
  watcher_->stop();
}

}  // namespace oskel
