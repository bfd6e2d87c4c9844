#include "dsp/FloatRingBuffer.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "dsp/RealtimeSection.h"

namespace oskel {

FloatRingBuffer::FloatRingBuffer(int64_t capacity)
    : capacity_(std::max<int64_t>(capacity, 1)), storage_(new float[static_cast<size_t>(capacity_)]()) {}

void FloatRingBuffer::write(const float* samples, int64_t count) {
  if (samples == nullptr || count < 1) return;
  realtime::Section section;
  if (count > capacity_) {
    samples += count - capacity_;
    count = capacity_;
  }
  std::lock_guard guard(lock_);
  const int64_t overflow = count_ + count - capacity_;
  if (overflow > 0) {
    readIndex_ = (readIndex_ + overflow) % capacity_;
    count_ = capacity_ - count;
    dropped_ += overflow;
  }
  const int64_t firstRun = std::min(count, capacity_ - writeIndex_);
  std::memcpy(storage_.get() + writeIndex_, samples, static_cast<size_t>(firstRun) * sizeof(float));
  if (count > firstRun)
    std::memcpy(storage_.get(), samples + firstRun, static_cast<size_t>(count - firstRun) * sizeof(float));
  writeIndex_ = (writeIndex_ + count) % capacity_;
  count_ += count;
}

void FloatRingBuffer::copyOutLocked(float* destination, int64_t k) {
  const int64_t firstRun = std::min(k, capacity_ - readIndex_);
  std::memcpy(destination, storage_.get() + readIndex_, static_cast<size_t>(firstRun) * sizeof(float));
  if (k > firstRun)
    std::memcpy(destination + firstRun, storage_.get(), static_cast<size_t>(k - firstRun) * sizeof(float));
  readIndex_ = (readIndex_ + k) % capacity_;
  count_ -= k;
}

int64_t FloatRingBuffer::read(float* destination, int64_t frames) {
  if (destination == nullptr || frames < 1) return 0;
  realtime::Section section;
  int64_t copied = 0;
  {
    std::lock_guard guard(lock_);
    copied = std::min(count_, frames);
    copyOutLocked(destination, copied);
  }
  // The silent tail is written outside the lock: the writer need not wait for it.
  std::fill(destination + copied, destination + frames, 0.0f);
  return copied;
}

std::vector<float> FloatRingBuffer::drain(int64_t limit) {
  const int64_t n = std::min(limit, available());
  if (n < 1) return {};
  std::vector<float> out(static_cast<size_t>(n), 0.0f);
  read(out.data(), n);
  return out;
}

void FloatRingBuffer::skip(int64_t n) {
  if (n < 1) return;
  realtime::Section section;
  std::lock_guard guard(lock_);
  const int64_t k = std::min(count_, n);
  readIndex_ = (readIndex_ + k) % capacity_;
  count_ -= k;
  dropped_ += k;
}

void FloatRingBuffer::clear() {
  realtime::Section section;
  std::lock_guard guard(lock_);
  readIndex_ = 0;
  writeIndex_ = 0;
  count_ = 0;
}

int64_t FloatRingBuffer::available() const {
  std::lock_guard guard(lock_);
  return count_;
}

int64_t FloatRingBuffer::droppedFrames() const {
  std::lock_guard guard(lock_);
  return dropped_;
}

}  // namespace oskel
