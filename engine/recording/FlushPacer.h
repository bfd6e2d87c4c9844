#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace oskel {

// Decides when the recorder's writer thread flushes. All calls but wake()
// come from the writer thread.
class FlushPacer {
 public:
  virtual ~FlushPacer() = default;
  // Returns when the next flush is due, or at once after wake().
  virtual void waitForNextFlush() = 0;
  // Ends every present and future wait; the recorder is stopping.
  virtual void wake() = 0;
  // After each periodic flush, with the stereo frames in the file so far.
  virtual void flushed(std::int64_t /*framesWritten*/) {}
};

// Waits a fixed interval (the recorder's 50 ms) between flushes.
class IntervalFlushPacer : public FlushPacer {
 public:
  explicit IntervalFlushPacer(std::chrono::milliseconds interval = std::chrono::milliseconds(50))
      : interval_(interval) {}

  void waitForNextFlush() override {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, interval_, [this] { return woken_; });
  }

  void wake() override {
    {
      std::lock_guard lock(mutex_);
      woken_ = true;
    }
    changed_.notify_all();
  }

 private:
  const std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable changed_;
  bool woken_ = false;
};

}  // namespace oskel
