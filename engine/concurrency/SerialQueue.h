#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "concurrency/Clock.h"
#include "concurrency/Timer.h"

namespace oskel {

// One worker thread running tasks one at a time: immediate tasks in the order
// they were posted, delayed tasks and timers when the queue's clock reaches
// their due time (ties in posting order). Timers have no leeway.
//
// Destroying the queue stops it after the task that is running; tasks not yet
// run are discarded. That is allowed from a task of the queue itself (the
// worker then winds down on its own), which happens when the last owner of an
// object that owns the queue lets go on the queue.
class SerialQueue {
 public:
  using Task = std::function<void()>;
  using Duration = Clock::Duration;

  // A weak reference for posting from other threads (network callbacks): it
  // never keeps the queue alive, and posting to a queue that is gone does
  // nothing.
  class Ref {
   public:
    Ref() = default;
    // False when the queue no longer exists.
    bool post(Task task) const;

   private:
    friend class SerialQueue;
    struct Core;
    explicit Ref(std::weak_ptr<Core> core) : core_(std::move(core)) {}
    std::weak_ptr<Core> core_;
  };

  // `name` becomes the worker thread's name (truncated to the 15 bytes the
  // system keeps).
  explicit SerialQueue(std::string name, std::shared_ptr<Clock> clock = Clock::system());
  ~SerialQueue();
  SerialQueue(const SerialQueue&) = delete;
  SerialQueue& operator=(const SerialQueue&) = delete;

  const std::string& name() const { return name_; }
  Clock& clock() const { return *clock_; }
  Ref ref() const;

  void post(Task task);
  // Runs `task` once after `delay`. Not cancellable: targets that may go away
  // in the meantime are captured weakly.
  void postAfter(Duration delay, Task task);
  // Runs `task` once after `delay` unless the returned handle is cancelled first.
  [[nodiscard]] Timer schedule(Duration delay, Task task);
  // Runs `task` after `first` and then every `interval`, until cancelled.
  [[nodiscard]] Timer scheduleRepeating(Duration first, Duration interval, Task task);

  // True on the queue's worker thread.
  bool isCurrent() const;

  // Blocks until nothing runs and nothing is due at the clock's now. Must not
  // be called from the queue's own thread.
  void waitUntilIdle();

 private:
  using Core = Ref::Core;

  void enqueue(Clock::TimePoint due, Task task, std::shared_ptr<std::atomic<bool>> cancelled, Duration interval);

  std::string name_;
  std::shared_ptr<Clock> clock_;
  std::shared_ptr<Core> core_;
  std::thread worker_;
};

}  // namespace oskel
