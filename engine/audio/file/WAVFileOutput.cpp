#include "audio/file/WAVFileOutput.h"

#include <algorithm>
#include <cerrno>

#include "dsp/PCM16.h"
#include "dsp/RealtimeSection.h"

namespace oskel {

namespace {

constexpr int64_t headerBytes = 44;
// The RIFF size field (data + 36) is 32 bits.
constexpr int64_t maxDataBytes = 0xFFFFFFFFLL - 36;

std::error_code lastError() { return {errno, std::generic_category()}; }

}  // namespace

std::expected<std::unique_ptr<WAVFileOutput>, WAVError> WAVFileOutput::create(
    std::optional<std::filesystem::path> path, Options options) {
  File file;
  if (path) {
    file.reset(std::fopen(path->c_str(), "wb"));
    if (!file) return std::unexpected(WAVError::file(*path, lastError()));
  }
  std::unique_ptr<WAVFileOutput> output(new WAVFileOutput(std::move(path), std::move(file), std::move(options)));
  output->writeHeader();
  if (auto failure = output->error()) return std::unexpected(*failure);
  return output;
}

WAVFileOutput::WAVFileOutput(std::optional<std::filesystem::path> path, File file, Options options)
    : path_(std::move(path)),
      sampleRate_(options.sampleRate),
      file_(std::move(file)),
      scratch_(maxRun, 0.0f),
      bytes_(static_cast<size_t>(2 * maxRun)),
      stream_("oskel.file-out", options.sampleRate, options.periodSeconds, std::move(options.clock)) {}

WAVFileOutput::~WAVFileOutput() { stop(); }

std::string WAVFileOutput::name() const { return path_ ? path_->filename().string() : std::string("(no output)"); }

std::expected<void, AudioIOError> WAVFileOutput::start() {
  stream_.start([this](int64_t frames) { pull(frames); });
  return {};
}

void WAVFileOutput::stop() {
  if (!stream_.running()) return;
  stream_.stop();
  writeHeader();
  if (file_ && std::fflush(file_.get()) != 0) fail(lastError());
}

std::optional<WAVError> WAVFileOutput::error() const {
  std::lock_guard guard(errorLock_);
  return error_;
}

void WAVFileOutput::fail(std::error_code code) {
  std::lock_guard guard(errorLock_);
  if (!error_) error_ = WAVError::file(path_ ? *path_ : std::filesystem::path(), code);
}

void WAVFileOutput::pull(int64_t frames) {
  while (frames > 0) {
    const int64_t n = std::min(frames, maxRun);
    const std::span<float> block(scratch_.data(), static_cast<size_t>(n));
    if (render_) {
      // The render callback is held to the rules of a device callback.
      realtime::Section section;
      render_(block);
    } else {
      std::fill(block.begin(), block.end(), 0.0f);
    }
    frames -= n;
    rendered_.fetch_add(n, std::memory_order_acq_rel);
    if (!file_ || 2 * (written_ + n) > maxDataBytes) continue;
    PCM16::encode(block, bytes_.data());
    if (std::fwrite(bytes_.data(), 1, static_cast<size_t>(2 * n), file_.get()) != static_cast<size_t>(2 * n)) {
      fail(lastError());
      file_.reset();
      continue;
    }
    written_ += n;
  }
}

void WAVFileOutput::writeHeader() {
  if (!file_) return;
  const auto header = WAV::pcm16Header(static_cast<uint32_t>(2 * written_), static_cast<uint32_t>(sampleRate_), 1);
  const long end = headerBytes + 2 * written_;
  if (std::fseek(file_.get(), 0, SEEK_SET) != 0 || std::fwrite(header.data(), 1, header.size(), file_.get()) != header.size() ||
      std::fseek(file_.get(), end, SEEK_SET) != 0)
    fail(lastError());
}

}  // namespace oskel
