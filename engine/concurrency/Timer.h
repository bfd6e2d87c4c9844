#pragma once

#include <atomic>
#include <memory>

namespace oskel {

// Handle of a scheduled one-shot or repeating task. Cancelling (explicitly or
// by destroying or overwriting the handle) guarantees the task will not start
// again; a run already in progress finishes.
class Timer {
 public:
  Timer() = default;
  explicit Timer(std::shared_ptr<std::atomic<bool>> cancelled) : cancelled_(std::move(cancelled)) {}
  Timer(const Timer&) = delete;
  Timer& operator=(const Timer&) = delete;
  Timer(Timer&& other) noexcept = default;
  Timer& operator=(Timer&& other) noexcept {
    if (this != &other) {
      cancel();
      cancelled_ = std::move(other.cancelled_);
    }
    return *this;
  }
  ~Timer() { cancel(); }

  void cancel() {
    if (cancelled_) cancelled_->store(true, std::memory_order_release);
    cancelled_.reset();
  }

  // True while the handle refers to a timer that was not cancelled.
  explicit operator bool() const { return cancelled_ != nullptr; }

 private:
  std::shared_ptr<std::atomic<bool>> cancelled_;
};

}  // namespace oskel
