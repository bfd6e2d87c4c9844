#include "concurrency/SerialQueue.h"

#include <linux/futex.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <exception>
#include <map>
#include <mutex>
#include <optional>
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

  Core(std::string n, std::shared_ptr<Clock> c)
      : name(std::move(n)), clock(std::move(c)), realClock(clock == Clock::system()) {}

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
    bool wakeWorker = false;
    {
      std::lock_guard guard(mutex);
      if (stopped) return false;  // `entry` is destroyed after the lock is released
      entries.emplace(Key{due, nextSequence++}, std::move(entry));
      wakeWorker = sleeping;
      if (wakeWorker) wakeups.fetch_add(1, std::memory_order_relaxed);
    }
    // Woken after the lock is released: a worker woken while the poster
    // still held it would at once block on the lock and sleep a second time.
    if (!realClock)
      wake.notify_one();
    else if (wakeWorker)
      futex(FUTEX_WAKE_PRIVATE, 1, nullptr);
    return true;
  }

  void stop() {
    Entries discarded;
    {
      std::lock_guard guard(mutex);
      stopped = true;
      discarded.swap(entries);
    }
    wakeups.fetch_add(1, std::memory_order_relaxed);
    futex(FUTEX_WAKE_PRIVATE, 1, nullptr);
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
        sleepUntil(lock, std::nullopt);
        continue;
      }
      const auto now = clock->now();
      if (entries.begin()->first.due > now) {
        idle.notify_all();
        sleepUntil(lock, entries.begin()->first.due);
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

  // On the real clock the worker sleeps on a futex of its own rather than on
  // `wake`: the C library hands a mutex back from a condition-variable wait
  // marked contended, so every such wake-up cost one more system call to
  // release it. Other clocks decide themselves how to wait.
  void sleepUntil(std::unique_lock<std::mutex>& lock, std::optional<TimePoint> deadline) {
    if (!realClock) {
      if (deadline)
        clock->waitUntil(wake, lock, *deadline);
      else
        wake.wait(lock);
      return;
    }
    const uint32_t seen = wakeups.load(std::memory_order_relaxed);
    sleeping = true;
    lock.unlock();
    timespec until{};
    if (deadline) {
      const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline->time_since_epoch()).count();
      until.tv_sec = static_cast<time_t>(ns / 1000000000);
      until.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    // Returns at the deadline (steady time is the monotonic clock), when
    // woken, or at once when a post came between the unlock and here.
    futex(FUTEX_WAIT_BITSET_PRIVATE, seen, deadline ? &until : nullptr);
    lock.lock();
    sleeping = false;
  }

  long futex(int op, uint32_t value, const timespec* until) {
    return syscall(SYS_futex, reinterpret_cast<uint32_t*>(&wakeups), op, value, until, nullptr,
                   FUTEX_BITSET_MATCH_ANY);
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
  const bool realClock;
  std::atomic<uint32_t> wakeups{0};  // the real clock's worker sleeps on this word
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
  bool sleeping = false;             // the worker is asleep or about to be; guarded by mutex
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
