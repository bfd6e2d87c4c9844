#include "recording/CallRecorder.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>

#include <fmt/format.h>

#include "dsp/PCM16.h"
#include "dsp/RealtimeSection.h"
#include "log/Log.h"
#include "recording/WAV.h"

namespace oskel {
namespace fs = std::filesystem;
namespace {

constexpr double ringSeconds = 30;
constexpr std::size_t alignmentSlack = 24000;  // 0.5 s at 48 kHz
constexpr std::size_t drainChunk = 4096;
constexpr double maxInputRate = 384000;

std::array<std::uint8_t, CallRecorder::headerBytes> stereoHeader(std::int64_t dataBytes) {
  return WAV::pcm16Header(static_cast<std::uint32_t>(dataBytes), static_cast<std::uint32_t>(CallRecorder::fileRate), 2);
}

// Writes all of `bytes` at `offset`; false with errno set on failure.
bool writeAll(int fd, const std::uint8_t* bytes, size_t size, off_t offset) {
  while (size > 0) {
    const ssize_t n = pwrite(fd, bytes, size, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    bytes += n;
    size -= static_cast<size_t>(n);
    offset += n;
  }
  return true;
}

std::unexpected<CallRecorder::Error> failure(int error, std::string what) {
  const std::error_code code(error, std::generic_category());
  return std::unexpected(CallRecorder::Error{code, fmt::format("{}: {}", what, code.message())});
}

bool writeEmptyHeader(int fd) {
  const auto header = stereoHeader(0);
  return writeAll(fd, header.data(), header.size(), 0);
}

// Replaces an existing file in place, as a user-chosen path asks for.
std::expected<int, CallRecorder::Error> replaceFile(const fs::path& url) {
  const int fd = open(url.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (fd < 0) return failure(errno, fmt::format("could not open {}", url.string()));
  if (!writeEmptyHeader(fd)) {
    const int error = errno;
    close(fd);
    return failure(error, fmt::format("could not write to {}", url.string()));
  }
  return fd;
}

// A new file appears under its name only once it holds a valid header: it is
// written unnamed (O_TMPFILE) and linked in afterwards. Where the file system
// cannot do that, the file is created and removed again if the header fails.
std::expected<int, CallRecorder::Error> createFile(const fs::path& url) {
  const fs::path folder = url.parent_path().empty() ? fs::path(".") : url.parent_path();
  int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
  if (fd >= 0) {
    if (!writeEmptyHeader(fd)) {
      const int error = errno;
      close(fd);
      return failure(error, fmt::format("could not write to {}", url.string()));
    }
    const std::string self = fmt::format("/proc/self/fd/{}", fd);
    if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, url.c_str(), AT_SYMLINK_FOLLOW) == 0) return fd;
    const int error = errno;
    close(fd);
    if (error == EEXIST) return replaceFile(url);
    if (error != ENOENT && error != EPERM && error != EXDEV) {
      return failure(error, fmt::format("could not create {}", url.string()));
    }
    // No /proc, or linking refused: create the ordinary way below.
  } else if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
    return failure(errno, fmt::format("could not create {}", url.string()));
  }

  fd = open(url.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (errno == EEXIST) return replaceFile(url);
    return failure(errno, fmt::format("could not create {}", url.string()));
  }
  if (!writeEmptyHeader(fd)) {
    const int error = errno;
    close(fd);
    unlink(url.c_str());
    return failure(error, fmt::format("could not write to {}", url.string()));
  }
  return fd;
}

std::expected<int, CallRecorder::Error> openRecording(const fs::path& url) {
  if (!url.parent_path().empty()) {
    std::error_code error;
    fs::create_directories(url.parent_path(), error);
    if (error) {
      return std::unexpected(CallRecorder::Error{
          error, fmt::format("could not create the folder {}: {}", url.parent_path().string(), error.message())});
    }
  }
  struct stat existing{};
  if (lstat(url.c_str(), &existing) == 0) return replaceFile(url);
  return createFile(url);
}

bool validRate(double rate) { return std::isfinite(rate) && rate > 0 && rate <= maxInputRate; }

}  // namespace

CallRecorder::Channel::Channel(double rate)
    : ring(static_cast<std::int64_t>(std::ceil(ringSeconds * rate))), resampler(rate, fileRate) {
  pending.reserve(static_cast<size_t>(fileRate));
}

std::expected<std::unique_ptr<CallRecorder>, CallRecorder::Error> CallRecorder::create(const fs::path& url,
                                                                                      double leftRate,
                                                                                      double rightRate,
                                                                                      Options options) {
  for (double rate : {leftRate, rightRate}) {
    if (!validRate(rate)) {
      return std::unexpected(Error{std::make_error_code(std::errc::invalid_argument),
                                   fmt::format("could not record {}: unsupported sample rate {}", url.string(), rate)});
    }
  }
  auto fd = openRecording(url);
  if (!fd) return std::unexpected(fd.error());
  if (!options.pacer) options.pacer = std::make_shared<IntervalFlushPacer>();
  return std::unique_ptr<CallRecorder>(new CallRecorder(url, *fd, leftRate, rightRate, std::move(options)));
}

std::expected<std::unique_ptr<CallRecorder>, CallRecorder::Error> CallRecorder::create(const fs::path& url,
                                                                                      double leftRate,
                                                                                      double rightRate) {
  return create(url, leftRate, rightRate, Options{});
}

CallRecorder::CallRecorder(fs::path url, int fd, double leftRate, double rightRate, Options options)
    : url_(std::move(url)),
      startedAt_(std::chrono::system_clock::now()),
      left_(leftRate),
      right_(rightRate),
      fd_(fd),
      scratch_(drainChunk),
      dataLimit_(std::clamp<std::int64_t>(options.dataLimit, 0, maxDataBytes)),
      pacer_(std::move(options.pacer)) {
  Log::info([&] { return "recording to " + url_.string(); });
  thread_ = std::thread([this] { run(); });
}

CallRecorder::~CallRecorder() { stop(); }

void CallRecorder::writeLeft(const float* samples, std::size_t count) noexcept {
  realtime::Section section;
  if (samples && count > 0) left_.ring.write(samples, static_cast<std::int64_t>(count));
}

void CallRecorder::writeRight(const float* samples, std::size_t count) noexcept {
  realtime::Section section;
  if (samples && count > 0) right_.ring.write(samples, static_cast<std::int64_t>(count));
}

double CallRecorder::duration() const {
  return static_cast<double>(framesWritten_.load(std::memory_order_relaxed)) / fileRate;
}

bool CallRecorder::isRunning() {
  std::lock_guard guard(stateLock_);
  return running_;
}

void CallRecorder::run() {
  pthread_setname_np(pthread_self(), "oskel.recorder");
  for (;;) {
    pacer_->waitForNextFlush();
    if (!isRunning()) return;
    flush(false);
    pacer_->flushed(framesWritten_.load(std::memory_order_relaxed));
  }
}

CallRecorder::Result CallRecorder::stop() {
  std::lock_guard stopping(stopMutex_);
  {
    std::lock_guard guard(stateLock_);
    if (finished_) return *finished_;
    running_ = false;
  }
  pacer_->wake();
  if (thread_.joinable()) thread_.join();
  flush(true);
  close(fd_);  // the data is already written; a close error changes nothing
  fd_ = -1;

  const auto leftLost = left_.ring.droppedFrames();
  const auto rightLost = right_.ring.droppedFrames();
  if (leftLost > 0 || rightLost > 0) {
    Log::warn([&] {
      return fmt::format("recording lost {} left and {} right samples: the writer fell behind", leftLost, rightLost);
    });
  }
  const std::int64_t frames = framesWritten_.load();
  Result result{url_, static_cast<double>(frames) / fileRate, headerBytes + frames * bytesPerFrame};
  Log::info([&] { return fmt::format("recording saved: {}, {:.1f}s", url_.string(), result.duration); });
  std::lock_guard guard(stateLock_);
  finished_ = result;
  return result;
}

void CallRecorder::drain(Channel& channel) {
  std::int64_t available = channel.ring.available();
  while (available > 0) {
    const std::int64_t want = std::min<std::int64_t>(available, static_cast<std::int64_t>(scratch_.size()));
    const std::int64_t got = channel.ring.read(scratch_.data(), want);
    if (got <= 0) break;
    available -= got;
    const size_t start = channel.pending.size();
    const std::int64_t room = channel.resampler.maxOutput(got);
    channel.pending.resize(start + static_cast<size_t>(room));
    const std::int64_t made = channel.resampler.process(scratch_.data(), got, channel.pending.data() + start, room);
    channel.pending.resize(start + static_cast<size_t>(std::max<std::int64_t>(made, 0)));
  }
}

void CallRecorder::flush(bool final) {
  drain(left_);
  drain(right_);
  auto& l = left_.pending;
  auto& r = right_.pending;
  // A channel whose device stopped delivering is filled with silence rather
  // than letting the other run ahead without bound; the end always pads.
  const size_t longer = std::max(l.size(), r.size());
  const size_t shorter = std::min(l.size(), r.size());
  if (final || longer - shorter > alignmentSlack) {
    l.resize(longer, 0.0f);
    r.resize(longer, 0.0f);
  }
  const size_t frames = std::min(l.size(), r.size());
  if (frames == 0) return;
  append(frames);
  l.erase(l.begin(), l.begin() + static_cast<std::ptrdiff_t>(frames));
  r.erase(r.begin(), r.begin() + static_cast<std::ptrdiff_t>(frames));
}

// Appends the first `frames` pending frames right after the last complete
// flush. A failed write is cut back off, so the file never holds bytes that
// the header does not describe and later flushes stay frame-aligned.
void CallRecorder::append(size_t frames) {
  const std::int64_t written = framesWritten_.load(std::memory_order_relaxed);
  const std::int64_t room = (dataLimit_ - written * bytesPerFrame) / bytesPerFrame;
  const size_t fit = static_cast<size_t>(std::clamp<std::int64_t>(room, 0, static_cast<std::int64_t>(frames)));
  if (fit < frames && !limitReported_) {
    limitReported_ = true;
    Log::error([&] {
      return fmt::format("recording write failed: {} reached the largest size a WAV file can describe; "
                         "the rest of the call is not recorded",
                         url_.string());
    });
  }
  if (fit == 0) return;

  interleaved_.resize(2 * fit);
  for (size_t i = 0; i < fit; ++i) {
    interleaved_[2 * i] = left_.pending[i];
    interleaved_[2 * i + 1] = right_.pending[i];
  }
  encoded_.resize(interleaved_.size() * 2);
  PCM16::encode(interleaved_, encoded_.data());
  const off_t offset = static_cast<off_t>(headerBytes + written * bytesPerFrame);
  if (!writeAll(fd_, encoded_.data(), encoded_.size(), offset)) {
    const int error = errno;
    // Should even this fail, the header still describes only complete flushes.
    [[maybe_unused]] const int cut = ftruncate(fd_, offset);
    reportFailure(std::error_code(error, std::generic_category()).message());
    return;
  }
  framesWritten_.store(written + static_cast<std::int64_t>(fit), std::memory_order_relaxed);
  writeHeader();
}

void CallRecorder::writeHeader() {
  const auto header = stereoHeader(framesWritten_.load(std::memory_order_relaxed) * bytesPerFrame);
  if (!writeAll(fd_, header.data(), header.size(), 0)) {
    reportFailure(std::error_code(errno, std::generic_category()).message());
    return;
  }
  reportSuccess();
}

// A full disk fails every 50 ms; one line per run of failures is enough.
void CallRecorder::reportFailure(const std::string& what) {
  if (failedFlushes_++ == 0) Log::error([&] { return "recording write failed: " + what; });
}

void CallRecorder::reportSuccess() {
  if (failedFlushes_ == 0) return;
  Log::info([&] { return fmt::format("recording writes resumed after {} failed flushes", failedFlushes_); });
  failedFlushes_ = 0;
}

}  // namespace oskel
