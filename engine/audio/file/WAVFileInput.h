#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioEndpoint.h"
#include "audio/file/PacedStream.h"
#include "concurrency/Clock.h"
#include "recording/WAV.h"

namespace oskel {

// A microphone that speaks a WAV file: it delivers the file's audio (mono, at
// the file's rate) in real time, one period at a time on its own thread, and
// silence after the end, as a microphone in a quiet room would.
class WAVFileInput final : public AudioInputEndpoint {
 public:
  struct Options {
    double periodSeconds = 0.01;
    std::shared_ptr<Clock> clock = Clock::system();
  };

  static std::expected<std::unique_ptr<WAVFileInput>, WAVError> open(const std::filesystem::path& path,
                                                                     Options options);
  static std::expected<std::unique_ptr<WAVFileInput>, WAVError> open(const std::filesystem::path& path) {
    return open(path, Options{});
  }
  // Audio already in memory.
  WAVFileInput(std::string name, WAV::Audio audio, Options options);
  ~WAVFileInput() override;

  std::string name() const override { return name_; }
  double sampleRate() const override { return sampleRate_; }
  void setOnFrames(FramesCallback callback) override { onFrames_ = std::move(callback); }
  // Starts from the beginning of the file.
  std::expected<void, AudioIOError> start() override;
  void stop() override;

  double duration() const;
  // The whole file has been delivered.
  bool finished() const { return delivered_.load(std::memory_order_acquire) >= static_cast<int64_t>(samples_.size()); }
  // Seconds delivered so far, trailing silence included.
  double elapsed() const;

 private:
  void deliver(int64_t frames);  // on the stream's thread

  static constexpr int64_t maxRun = 16384;

  const std::string name_;
  const std::vector<float> samples_;
  const double sampleRate_;
  FramesCallback onFrames_;
  std::vector<float> silence_;
  std::atomic<int64_t> delivered_{0};
  PacedStream stream_;
};

}  // namespace oskel
