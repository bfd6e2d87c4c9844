#include "RecordingTestSupport.h"

#include <stdlib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include "dsp/LinearResampler.h"
#include "dsp/PCM16.h"
#include "recording/WAV.h"

namespace oskel::test {
namespace fs = std::filesystem;

TempFolder::TempFolder() {
  std::string pattern = (fs::temp_directory_path() / "oskel-recording-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

void ManualFlushPacer::waitForNextFlush() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return woken_ || granted_ < requested_; });
  if (!woken_) ++granted_;
}

void ManualFlushPacer::wake() {
  std::lock_guard lock(mutex_);
  woken_ = true;
  changed_.notify_all();
}

void ManualFlushPacer::flushed(std::int64_t framesWritten) {
  std::lock_guard lock(mutex_);
  ++completed_;
  frames_ = framesWritten;
  changed_.notify_all();
}

std::int64_t ManualFlushPacer::flush() {
  std::unique_lock lock(mutex_);
  ++requested_;
  changed_.notify_all();
  changed_.wait(lock, [this] { return woken_ || completed_ >= requested_; });
  return frames_;
}

namespace {

// A well-mixed 32-bit hash of the sample index.
std::uint32_t mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdULL;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ULL;
  x ^= x >> 33;
  return static_cast<std::uint32_t>(x);
}

}  // namespace

StereoFile readStereo(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
  StereoFile file;
  file.fileBytes = bytes.size();
  file.header.assign(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(bytes.size(), 44)));
  file.dataBytes = WAV::readLE32(bytes, 40);
  for (size_t offset = 44; offset + 4 <= bytes.size() && offset + 4 <= 44 + size_t{file.dataBytes}; offset += 4) {
    file.left.push_back(static_cast<std::int16_t>(WAV::readLE16(bytes, offset)));
    file.right.push_back(static_cast<std::int16_t>(WAV::readLE16(bytes, offset + 2)));
  }
  return file;
}

bool StereoFile::standardHeader(std::uint32_t sampleRate) const {
  return std::ranges::equal(header, WAV::pcm16Header(dataBytes, sampleRate, 2));
}

float leftSignal(std::int64_t index) {
  return static_cast<float>(mix(static_cast<std::uint64_t>(index)) & 0xFFFF) / 65536.0f - 0.5f;
}

float rightSignal(std::int64_t index) {
  return 0.8f * (static_cast<float>(mix(static_cast<std::uint64_t>(index) + 0x9E3779B97F4A7C15ULL) & 0xFFFF) / 65536.0f - 0.5f);
}

std::vector<float> block(float (*signal)(std::int64_t), std::int64_t first, std::int64_t count) {
  std::vector<float> samples(static_cast<size_t>(count));
  for (std::int64_t i = 0; i < count; ++i) samples[static_cast<size_t>(i)] = signal(first + i);
  return samples;
}

std::vector<std::int16_t> expectedChannel(float (*signal)(std::int64_t), double rate, std::int64_t inputs,
                                          std::int64_t blockSize) {
  LinearResampler resampler(rate, 48000);
  std::vector<std::int16_t> out;
  std::vector<float> resampled;
  for (std::int64_t first = 0; first < inputs; first += blockSize) {
    const auto input = block(signal, first, std::min(blockSize, inputs - first));
    resampled.resize(static_cast<size_t>(resampler.maxOutput(static_cast<std::int64_t>(input.size()))));
    const auto made = resampler.process(input.data(), static_cast<std::int64_t>(input.size()), resampled.data(),
                                        static_cast<std::int64_t>(resampled.size()));
    for (std::int64_t i = 0; i < made; ++i) out.push_back(PCM16::encodeSample(resampled[static_cast<size_t>(i)]));
  }
  return out;
}

}  // namespace oskel::test
