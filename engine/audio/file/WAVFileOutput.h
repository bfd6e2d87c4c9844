#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <expected>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioEndpoint.h"
#include "audio/file/PacedStream.h"
#include "concurrency/Clock.h"
#include "recording/WAV.h"

namespace oskel {

// A speaker that writes what it plays to a mono 16-bit WAV file: it pulls
// audio in real time, one period at a time on its own thread, and appends it
// to the file as it goes, so memory stays flat however long it runs. The
// header is completed on stop(). Without a path it plays into nothing.
class WAVFileOutput final : public AudioOutputEndpoint {
 public:
  struct Options {
    double sampleRate = 48000.0;
    double periodSeconds = 0.01;
    std::shared_ptr<Clock> clock = Clock::system();
  };

  // Creates (or replaces) the file at once, so a path that cannot be written
  // fails before anything starts.
  static std::expected<std::unique_ptr<WAVFileOutput>, WAVError> create(std::optional<std::filesystem::path> path,
                                                                        Options options);
  ~WAVFileOutput() override;

  std::string name() const override;
  double sampleRate() const override { return sampleRate_; }
  void setRender(RenderCallback callback) override { render_ = std::move(callback); }
  std::expected<void, AudioIOError> start() override;
  // Stops pulling and completes the file's header.
  void stop() override;

  const std::optional<std::filesystem::path>& path() const { return path_; }
  int64_t framesRendered() const { return rendered_.load(std::memory_order_acquire); }
  // The first write failure, if any.
  std::optional<WAVError> error() const;

 private:
  struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
  };
  using File = std::unique_ptr<std::FILE, FileCloser>;

  WAVFileOutput(std::optional<std::filesystem::path> path, File file, Options options);
  void pull(int64_t frames);  // on the stream's thread
  void writeHeader();
  void fail(std::error_code code);

  static constexpr int64_t maxRun = 16384;

  const std::optional<std::filesystem::path> path_;
  const double sampleRate_;
  File file_;
  RenderCallback render_;
  std::vector<float> scratch_;
  std::vector<uint8_t> bytes_;
  std::atomic<int64_t> rendered_{0};
  int64_t written_ = 0;  // samples in the file
  mutable std::mutex errorLock_;
  std::optional<WAVError> error_;
  PacedStream stream_;
};

}  // namespace oskel
