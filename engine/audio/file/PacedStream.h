#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "concurrency/Clock.h"
#include "concurrency/SerialQueue.h"
#include "concurrency/Timer.h"

namespace oskel {

// The clock of a device that has no hardware behind it: every period, on its
// own thread, it asks for as many frames as real time (or the injected
// clock) says are due at the stream's rate. Counting from the start instead
// of adding periods keeps it from drifting.
class PacedStream {
 public:
  // Called with the number of frames due; never with 0.
  using Handler = std::function<void(int64_t frames)>;

  PacedStream(std::string threadName, double sampleRate, double periodSeconds, std::shared_ptr<Clock> clock);
  ~PacedStream();
  PacedStream(const PacedStream&) = delete;
  PacedStream& operator=(const PacedStream&) = delete;

  // Nothing when already running.
  void start(Handler handler);
  // Returns once no handler call is running; none follows. Idempotent.
  void stop();
  bool running() const { return queue_ != nullptr; }

 private:
  void tick();

  const std::string threadName_;
  const double sampleRate_;
  const double periodSeconds_;
  const std::shared_ptr<Clock> clock_;
  Handler handler_;
  Clock::TimePoint startedAt_;
  int64_t framesDone_ = 0;
  Timer timer_;
  std::unique_ptr<SerialQueue> queue_;
};

}  // namespace oskel
