#include "audio/AudioPlayback.h"

#include <algorithm>

#include "dsp/RealtimeSection.h"

namespace oskel {

std::expected<std::unique_ptr<AudioPlayback>, AudioIOError> AudioPlayback::make(std::shared_ptr<AudioHost> host,
                                                                                AudioDeviceInfo device,
                                                                                RenderCallback render) {
  const auto format = DeviceIOProc::usableFormat(*host, device, AudioScope::output);
  if (!format) return std::unexpected(format.error());
  std::unique_ptr<AudioPlayback> playback(new AudioPlayback(std::move(host), std::move(device), *format));
  playback->setRender(std::move(render));
  return playback;
}

AudioPlayback::AudioPlayback(std::shared_ptr<AudioHost> host, AudioDeviceInfo device,
                             const AudioStreamFormat& format)
    : sampleRate_(format.sampleRate),
      channels_(static_cast<int>(format.channelsPerFrame)),
      scratch_(std::make_unique<float[]>(maxFrames)),
      io_(std::move(host), std::move(device), AudioScope::output, format.sampleRate) {}

AudioPlayback::~AudioPlayback() { stop(); }

std::expected<void, AudioIOError> AudioPlayback::start() {
  // The IO procedure ends in stop(), which runs before destruction.
  return io_.start([this](std::span<AudioBuffer> buffers) { handle(buffers); });
}

void AudioPlayback::stop() { io_.stop(); }

void AudioPlayback::handle(std::span<AudioBuffer> buffers) {
  realtime::Section section;
  const auto bridge = io_.bridge();
  bool first = true;
  for (AudioBuffer& buffer : buffers) {
    if (!buffer.data || buffer.numberChannels == 0) continue;
    const size_t channels = buffer.numberChannels;
    const size_t frames = buffer.dataByteSize / (channels * sizeof(float));
    auto* out = static_cast<float*>(buffer.data);
    if (!first || !render_) {
      std::fill_n(out, frames * channels, 0.0f);
      first = false;
      continue;
    }
    first = false;
    float* mono = scratch_.get();
    for (size_t done = 0; done < frames;) {
      const size_t n = std::min<size_t>(frames - done, maxFrames);
      if (bridge) {
        bridge->pull(mono, static_cast<int64_t>(n), render_);
      } else {
        render_(std::span<float>(mono, n));
      }
      float* frame = out + done * channels;
      for (size_t f = 0; f < n; ++f) {
        std::fill_n(frame + f * channels, channels, mono[f]);
      }
      done += n;
    }
  }
}

}  // namespace oskel
