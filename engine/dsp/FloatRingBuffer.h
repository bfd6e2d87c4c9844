#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "dsp/UnfairLock.h"

namespace oskel {

// Fixed-capacity FIFO of mono float samples between a real-time callback and
// a worker thread. A writer never waits for space: when the ring is full the
// oldest samples are discarded and counted. The store is allocated once; every
// operation except drain() is allocation-free and safe on a real-time thread.
class FloatRingBuffer {
 public:
  // A capacity below 1 becomes 1.
  explicit FloatRingBuffer(int64_t capacity);
  FloatRingBuffer(const FloatRingBuffer&) = delete;
  FloatRingBuffer& operator=(const FloatRingBuffer&) = delete;

  // Appends samples. A write longer than the capacity keeps only its newest
  // `capacity` samples (the ignored ones are not counted as dropped).
  void write(const float* samples, int64_t count);
  void write(std::span<const float> samples) { write(samples.data(), static_cast<int64_t>(samples.size())); }

  // Moves up to `frames` of the oldest samples into `destination`, zero-fills
  // the rest of it, and returns how many real samples were copied.
  int64_t read(float* destination, int64_t frames);
  int64_t read(std::span<float> destination) { return read(destination.data(), static_cast<int64_t>(destination.size())); }

  // Removes and returns up to `limit` of the oldest samples (allocates).
  std::vector<float> drain(int64_t limit);

  // Discards up to `n` of the oldest samples; they count as dropped.
  void skip(int64_t n);

  // Empties the ring; the dropped count is kept.
  void clear();

  int64_t available() const;
  int64_t droppedFrames() const;
  int64_t capacity() const { return capacity_; }

 private:
  // Copies k samples out starting at readIndex_ and consumes them; lock held.
  void copyOutLocked(float* destination, int64_t k);

  const int64_t capacity_;
  const std::unique_ptr<float[]> storage_;
  int64_t readIndex_ = 0;
  int64_t writeIndex_ = 0;
  int64_t count_ = 0;
  int64_t dropped_ = 0;
  mutable UnfairLock lock_;
};

}  // namespace oskel
