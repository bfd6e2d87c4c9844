#include "concurrency/SerialQueue.h"

#include <pthread.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <map>
#include <mutex>
#include <tuple>
#include <utility>

#include "log/Log.h"

namespace oskel {

struct SerialQueue::Ref::Core final : TimedExecutor {
  using TimePoint = Clock::TimePoint;

  struct Key {
    TimePoint due;
    uint64_t sequence;
    bool operator<(const Key& other) const { return std::tie(due, sequence) < std::tie(other.due, other.sequence); }
  };
  struct Entry {
    Task task;
    std::shared_ptr<std::atomic<bool>> cancelled;  // null: not cancellable
    Duration interval{0};                          // zero: runs once
    bool isCancelled() const { return cancelled && cancelled->load(std::memory_order_acquire); }
  };
  using Entries = std::map<Key, Entry>;

  Core(std::string n, std::shared_ptr<Clock> c) : name(std::move(n)), clock(std::move(c)) {}

  // A task that throws is a bug in that task; the queue and every other task
  // on it go on.
  void runGuarded(const Task& task) const {
    try {
      task();
    } catch (const std::exception& e) {
      Log::error([&] { return "task on queue " + name + " threw: " + e.what(); });
    } catch (...) {
      Log::error([&] { return "task on queue " + name + " threw a non-standard exception"; });
    }
  }

  bool add(TimePoint due, Entry entry) {
    {
      std::lock_guard guard(mutex);
      if (stopped) return false;  // `entry` is destroyed after the lock is released
      entries.emplace(Key{due, nextSequence++}, std::move(entry));
    }
    // Notified after the lock is released: a worker woken while the poster
    // still held it would at once block on the lock and sleep a second time.
    wake.notify_one();
    return true;
  }

  void stop() {
    Entries discarded;
    {
      std::lock_guard guard(mutex);
      stopped = true;
      discarded.swap(entries);
    }
    wake.notify_all();
    idle.notify_all();
    // `discarded` goes out of scope outside the lock: destroying a task may
    // release objects that post to this queue.
  }

  void run() {
    std::unique_lock lock(mutex);
    while (!stopped) {
      if (entries.empty()) {
        idle.notify_all();
        wake.wait(lock);
        continue;
      }
      const auto now = clock->now();
      if (entries.begin()->first.due > now) {
        idle.notify_all();
        clock->waitUntil(wake, lock, entries.begin()->first.due);
        continue;
      }
      auto node = entries.extract(entries.begin());
      if (!node.mapped().isCancelled()) {
        running = true;
        lock.unlock();
        runGuarded(node.mapped().task);
        lock.lock();
        running = false;
        auto& entry = node.mapped();
        if (entry.interval > Duration::zero() && !entry.isCancelled() && !stopped) {
          auto& key = node.key();
          key.due += entry.interval;
          const auto current = clock->now();
          if (key.due <= current) {
            // Fell behind by whole intervals: missed ticks are coalesced.
            key.due += ((current - key.due) / entry.interval + 1) * entry.interval;
          }
          key.sequence = nextSequence++;
          entries.insert(std::move(node));
          continue;
        }
      }
      lock.unlock();
      node = {};
      lock.lock();
    }
    idle.notify_all();
  }

  void timeChanged() override {
    { std::lock_guard guard(mutex); }  // a worker between its check and its wait must not miss this
    wake.notify_all();
  }

  // A task still running counts as work due now: it may yet post to a queue
  // a manual clock has already found idle, so the clock must look again.
  std::optional<TimePoint> nextDeadline() override {
    std::lock_guard guard(mutex);
    if (stopped) return std::nullopt;
    if (running) return clock->now();
    if (entries.empty()) return std::nullopt;
    return entries.begin()->first.due;
  }

  void waitUntilIdle() override {
    std::unique_lock lock(mutex);
    idle.wait(lock, [&] {
      return !running && (stopped || entries.empty() || entries.begin()->first.due > clock->now());
    });
  }

  const std::string name;
  const std::shared_ptr<Clock> clock;
  std::mutex mutex;
  std::condition_variable wake;
  std::condition_variable idle;
  Entries entries;
  uint64_t nextSequence = 0;
  bool running = false;
  bool stopped = false;
};

bool SerialQueue::Ref::post(Task task) const {
  const auto core = core_.lock();
  return core && core->add(core->clock->now(), {std::move(task), nullptr, Duration::zero()});
}

SerialQueue::SerialQueue(std::string name, std::shared_ptr<Clock> clock)
    : name_(std::move(name)), clock_(std::move(clock)), core_(std::make_shared<Core>(name_, clock_)) {
  clock_->attach(core_);
  worker_ = std::thread([core = core_, threadName = name_.substr(0, 15)] {
    pthread_setname_np(pthread_self(), threadName.c_str());
    core->run();
  });
}

SerialQueue::~SerialQueue() {
  core_->stop();
  if (!worker_.joinable()) return;
  if (isCurrent())
    worker_.detach();  // the worker owns the core and ends after the current task
  else
    worker_.join();
}

SerialQueue::Ref SerialQueue::ref() const { return Ref(core_); }

void SerialQueue::post(Task task) { enqueue(clock_->now(), std::move(task), nullptr, Duration::zero()); }

void SerialQueue::postAfter(Duration delay, Task task) {
  enqueue(clock_->now() + std::max(delay, Duration::zero()), std::move(task), nullptr, Duration::zero());
}

Timer SerialQueue::schedule(Duration delay, Task task) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  enqueue(clock_->now() + std::max(delay, Duration::zero()), std::move(task), cancelled, Duration::zero());
  return Timer(std::move(cancelled));
}

Timer SerialQueue::scheduleRepeating(Duration first, Duration interval, Task task) {
  auto cancelled = std::make_shared<std::atomic<bool>>(false);
  // A zero interval would spin; the shortest repeat is one nanosecond.
  interval = std::max(interval, Duration(1));
  enqueue(clock_->now() + std::max(first, Duration::zero()), std::move(task), cancelled, interval);
  return Timer(std::move(cancelled));
}

void SerialQueue::enqueue(Clock::TimePoint due, Task task, std::shared_ptr<std::atomic<bool>> cancelled,
                          Duration interval) {
  // The task may run, and destroy this queue, before add() has woken the
  // worker: the core is held until the call is over.
  const auto core = core_;
  core->add(due, {std::move(task), std::move(cancelled), interval});
}

bool SerialQueue::isCurrent() const { return worker_.get_id() == std::this_thread::get_id(); }

void SerialQueue::waitUntilIdle() {
  if (!isCurrent()) core_->waitUntilIdle();
}

}  // namespace oskel
