#pragma once

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "recording/FlushPacer.h"

namespace oskel::test {

// A fresh folder under the system's temporary folder, removed afterwards.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Lets a test decide when the recorder flushes: flush() releases exactly one
// periodic flush and returns once it is complete.
class ManualFlushPacer : public FlushPacer {
 public:
  void waitForNextFlush() override;
  void wake() override;
  void flushed(std::int64_t framesWritten) override;
  // The stereo frames in the file after the flush.
  std::int64_t flush();

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::int64_t requested_ = 0;
  std::int64_t granted_ = 0;
  std::int64_t completed_ = 0;
  std::int64_t frames_ = 0;
  bool woken_ = false;
};

// A recording as the bytes on disk say: its header and the frames the header
// declares.
struct StereoFile {
  std::uint64_t fileBytes = 0;
  std::vector<std::uint8_t> header;  // the first 44 bytes
  std::uint32_t dataBytes = 0;
  std::vector<std::int16_t> left, right;
  // The canonical 16-bit stereo header for the data it declares.
  bool standardHeader(std::uint32_t sampleRate) const;
};
StereoFile readStereo(const std::filesystem::path& path);

// Reproducible, non-periodic test audio (amplitude below 0.5), so that a lost,
// repeated or shifted block changes the file; the two channels differ.
float leftSignal(std::int64_t index);
float rightSignal(std::int64_t index);
std::vector<float> block(float (*signal)(std::int64_t), std::int64_t first, std::int64_t count);

// What the recorder must write for `inputs` samples of a signal at `rate`,
// fed to the resampler in blocks of `blockSize`, as 16-bit samples.
std::vector<std::int16_t> expectedChannel(float (*signal)(std::int64_t), double rate, std::int64_t inputs,
                                          std::int64_t blockSize);

}  // namespace oskel::test
