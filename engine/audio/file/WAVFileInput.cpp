#include "audio/file/WAVFileInput.h"

#include <algorithm>

#include "dsp/RealtimeSection.h"

namespace oskel {

std::expected<std::unique_ptr<WAVFileInput>, WAVError> WAVFileInput::open(const std::filesystem::path& path,
                                                                          Options options) {
  auto audio = WAV::read(path);
  if (!audio) return std::unexpected(audio.error());
  if (!(audio->sampleRate > 0)) return std::unexpected(WAVError::unsupported("a sample rate of 0 Hz"));
  return std::make_unique<WAVFileInput>(path.filename().string(), std::move(*audio), std::move(options));
}

WAVFileInput::WAVFileInput(std::string name, WAV::Audio audio, Options options)
    : name_(std::move(name)),
      samples_(std::move(audio.samples)),
      sampleRate_(audio.sampleRate),
      silence_(maxRun, 0.0f),
      stream_("oskel.file-in", sampleRate_, options.periodSeconds, std::move(options.clock)) {}

WAVFileInput::~WAVFileInput() { stop(); }

std::expected<void, AudioIOError> WAVFileInput::start() {
  if (stream_.running()) return {};
  delivered_.store(0, std::memory_order_release);
  stream_.start([this](int64_t frames) { deliver(frames); });
  return {};
}

void WAVFileInput::stop() { stream_.stop(); }

double WAVFileInput::duration() const { return static_cast<double>(samples_.size()) / sampleRate_; }

double WAVFileInput::elapsed() const {
  return static_cast<double>(delivered_.load(std::memory_order_acquire)) / sampleRate_;
}

void WAVFileInput::deliver(int64_t frames) {
  // What the endpoint's user does with the frames must hold to the rules of
  // a device callback.
  realtime::Section section;
  const auto total = static_cast<int64_t>(samples_.size());
  int64_t position = delivered_.load(std::memory_order_relaxed);
  while (frames > 0) {
    const int64_t run = std::min(frames, maxRun);
    const float* source = silence_.data();
    int64_t n = run;
    if (position < total) {
      n = std::min(run, total - position);
      source = samples_.data() + position;
    }
    if (onFrames_) onFrames_(std::span<const float>(source, static_cast<size_t>(n)));
    position += n;
    frames -= n;
    delivered_.store(position, std::memory_order_release);
  }
}

}  // namespace oskel
