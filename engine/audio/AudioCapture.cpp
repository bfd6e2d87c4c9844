#include "audio/AudioCapture.h"

#include <algorithm>

#include "dsp/RealtimeSection.h"

namespace oskel {

std::expected<std::unique_ptr<AudioCapture>, AudioIOError> AudioCapture::make(std::shared_ptr<AudioHost> host,
                                                                              AudioDeviceInfo device,
                                                                              FramesCallback onFrames) {
  const auto format = DeviceIOProc::usableFormat(*host, device, AudioScope::input);
  if (!format) return std::unexpected(format.error());
  std::unique_ptr<AudioCapture> capture(new AudioCapture(std::move(host), std::move(device), *format));
  capture->setOnFrames(std::move(onFrames));
  return capture;
}

AudioCapture::AudioCapture(std::shared_ptr<AudioHost> host, AudioDeviceInfo device, const AudioStreamFormat& format)
    : sampleRate_(format.sampleRate),
      sourceChannels_(static_cast<int>(format.channelsPerFrame)),
      scratch_(std::make_unique<float[]>(maxFrames)),
      io_(std::move(host), std::move(device), AudioScope::input, format.sampleRate) {}

AudioCapture::~AudioCapture() { stop(); }

std::expected<void, AudioIOError> AudioCapture::start() {
  // The IO procedure ends in stop(), which runs before destruction.
  return io_.start([this](std::span<AudioBuffer> buffers) { handle(buffers); });
}

void AudioCapture::stop() { io_.stop(); }

void AudioCapture::handle(std::span<AudioBuffer> buffers) {
  realtime::Section section;
  if (buffers.empty()) return;
  const AudioBuffer& buffer = buffers.front();
  if (!buffer.data || buffer.numberChannels == 0) return;
  const size_t channels = buffer.numberChannels;
  const auto frames =
      static_cast<size_t>(std::min<int64_t>(buffer.dataByteSize / (channels * sizeof(float)), maxFrames));
  if (frames == 0) return;

  const auto* samples = static_cast<const float*>(buffer.data);
  float* mono = scratch_.get();
  if (channels == 1) {
    std::copy_n(samples, frames, mono);
  } else {
    const float scale = 1.0f / static_cast<float>(channels);
    for (size_t f = 0; f < frames; ++f) {
      float sum = 0.0f;
      for (size_t c = 0; c < channels; ++c) sum += samples[f * channels + c];
      mono[f] = sum * scale;
    }
  }

  const auto bridge = io_.bridge();
  if (!onFrames_) return;
  const std::span<const float> run(mono, frames);
  if (bridge) {
    bridge->convert(run, onFrames_);
  } else {
    onFrames_(run);
  }
}

}  // namespace oskel
