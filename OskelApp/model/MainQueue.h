#pragma once

#include <functional>
#include <memory>

#include "concurrency/Clock.h"
#include "concurrency/Timer.h"

namespace oskel {

// The application's main thread as the model sees it: tasks posted from any
// thread run there one at a time in order, delayed tasks run there when the
// clock reaches them. The application uses the Qt event loop; tests use a
// queue driven by a manual clock, so every debounce and retry runs in
// virtual time.
class MainQueue {
 public:
  using Task = std::function<void()>;

  virtual ~MainQueue() = default;
  // From any thread.
  virtual void post(Task task) = 0;
  // From the main thread: runs `task` after `delay` unless the handle is
  // cancelled (or dropped) first.
  [[nodiscard]] virtual Timer schedule(Clock::Duration delay, Task task) = 0;
  virtual Clock& clock() = 0;

  // The Qt event loop of the running application object with the system clock.
  static std::shared_ptr<MainQueue> qt();
};

}  // namespace oskel
