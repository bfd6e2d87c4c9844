#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "dsp/FloatRingBuffer.h"
#include "dsp/LinearResampler.h"
#include "dsp/UnfairLock.h"
#include "recording/FlushPacer.h"

namespace oskel {

// Records one call as a stereo 16-bit WAV file at 48 kHz: left is what the
// other party heard, right what the user heard. Audio threads only copy into
// two rings; a writer thread "oskel.recorder" resamples, interleaves and
// appends every 50 ms and then rewrites the header, so the file on disk is a
// valid WAV holding every completed flush, even if the process dies.
class CallRecorder {
 public:
  static constexpr double fileRate = 48000;
  static constexpr std::int64_t headerBytes = 44;
  static constexpr std::int64_t bytesPerFrame = 4;
  // The RIFF size field (data + 36) must fit in 32 bits.
  static constexpr std::int64_t maxDataBytes = (0xFFFFFFFFLL - 36) / bytesPerFrame * bytesPerFrame;

  struct Result {
    std::filesystem::path url;
    double duration = 0;    // seconds
    std::int64_t bytes = 0;  // the file's size
    bool operator==(const Result&) const = default;
  };

  // Why a recording could not start.
  struct Error {
    std::error_code code;
    std::string text;
    const std::string& description() const { return text; }
  };

  struct Options {
    std::shared_ptr<FlushPacer> pacer;  // default: an IntervalFlushPacer of 50 ms
    std::int64_t dataLimit = maxDataBytes;
  };

  // Creates the folder and the file (a valid WAV with no audio from the first
  // moment it exists) and starts the writer thread.
  static std::expected<std::unique_ptr<CallRecorder>, Error> create(const std::filesystem::path& url, double leftRate,
                                                                    double rightRate, Options options);
  static std::expected<std::unique_ptr<CallRecorder>, Error> create(const std::filesystem::path& url, double leftRate,
                                                                    double rightRate);
  ~CallRecorder();
  CallRecorder(const CallRecorder&) = delete;
  CallRecorder& operator=(const CallRecorder&) = delete;

  // Real-time safe: a copy into the channel's ring, nothing else.
  void writeLeft(const float* samples, std::size_t count) noexcept;
  void writeRight(const float* samples, std::size_t count) noexcept;
  void writeLeft(std::span<const float> samples) noexcept { writeLeft(samples.data(), samples.size()); }
  void writeRight(std::span<const float> samples) noexcept { writeRight(samples.data(), samples.size()); }

  // Ends the writer, flushes the rest (padding the shorter channel with
  // silence) and closes the file. Later calls return the first result.
  Result stop();

  // Seconds in the file so far.
  double duration() const;
  const std::filesystem::path& url() const { return url_; }
  std::chrono::system_clock::time_point startedAt() const { return startedAt_; }

 private:
  struct Channel {
    explicit Channel(double rate);
    FloatRingBuffer ring;
    LinearResampler resampler;
    std::vector<float> pending;  // at 48 kHz, not yet written
  };

  CallRecorder(std::filesystem::path url, int fd, double leftRate, double rightRate, Options options);
  bool isRunning();
  void run();
  void flush(bool final);
  void drain(Channel& channel);
  void append(std::size_t frames);
  void writeHeader();
  void reportFailure(const std::string& what);
  void reportSuccess();

  const std::filesystem::path url_;
  const std::chrono::system_clock::time_point startedAt_;
  Channel left_;
  Channel right_;
  int fd_;
  std::vector<float> scratch_;
  std::vector<float> interleaved_;
  std::vector<std::uint8_t> encoded_;
  std::atomic<std::int64_t> framesWritten_{0};
  const std::int64_t dataLimit_;
  std::shared_ptr<FlushPacer> pacer_;
  int failedFlushes_ = 0;  // in the current run of failures
  bool limitReported_ = false;

  std::mutex stopMutex_;  // one stop() at a time
  std::thread thread_;
  UnfairLock stateLock_;
  bool running_ = true;
  std::optional<Result> finished_;
};

}  // namespace oskel
