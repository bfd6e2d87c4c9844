#include "audio/file/PacedStream.h"

#include <cmath>

namespace oskel {

PacedStream::PacedStream(std::string threadName, double sampleRate, double periodSeconds, std::shared_ptr<Clock> clock)
    : threadName_(std::move(threadName)),
      sampleRate_(sampleRate),
      periodSeconds_(periodSeconds),
      clock_(clock ? std::move(clock) : Clock::system()) {}

PacedStream::~PacedStream() { stop(); }

void PacedStream::start(Handler handler) {
  if (queue_) return;
  handler_ = std::move(handler);
  framesDone_ = 0;
  startedAt_ = clock_->now();
  queue_ = std::make_unique<SerialQueue>(threadName_, clock_);
  const auto period = delayFromSeconds(periodSeconds_);
  timer_ = queue_->scheduleRepeating(period, period, [this] { tick(); });
}

void PacedStream::stop() {
  if (!queue_) return;
  timer_.cancel();
  queue_.reset();  // waits for a running tick
  handler_ = nullptr;
}

void PacedStream::tick() {
  const double elapsed = secondsBetween(startedAt_, clock_->now());
  const auto due = static_cast<int64_t>(std::floor(elapsed * sampleRate_));
  const int64_t frames = due - framesDone_;
  if (frames <= 0) return;
  framesDone_ = due;
  handler_(frames);
}

}  // namespace oskel
