#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "dsp/UnfairLock.h"

namespace oskel {

// An observer of a pipeline's final output (the call recorder listens here).
// The render thread only copies a reference under the short lock and calls
// the observer after releasing it; a replaced observer is freed later on a
// setting thread, never on the render thread.
class OutputTap {
 public:
  using Callback = std::function<void(std::span<const float> block)>;

  // Installs `callback`, or removes the observer when it is empty.
  void set(Callback callback);
  // Render thread: hands the block to the observer, if there is one.
  void deliver(std::span<const float> block) const;

 private:
  mutable UnfairLock lock_;
  std::shared_ptr<const Callback> current_;  // guarded by lock_

  std::mutex retiredMutex_;
  // Replaced observers the render thread may still be calling.
  std::vector<std::shared_ptr<const Callback>> retired_;
};

// Whether a pipeline routes capture straight to playback. Read on the render
// thread under its own lock.
class PassthroughFlag {
 public:
  bool value() const {
    std::lock_guard guard(lock_);
    return value_;
  }
  void set(bool on) {
    std::lock_guard guard(lock_);
    value_ = on;
  }
  // Sets the flag and tells whether it was off before.
  bool turnOn() {
    std::lock_guard guard(lock_);
    const bool wasOff = !value_;
    value_ = true;
    return wasOff;
  }

 private:
  mutable UnfairLock lock_;
  bool value_ = false;
};

}  // namespace oskel
