#include <gtest/gtest.h>

#include <pthread.h>

#include <atomic>
#include <cmath>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "concurrency/ManualClock.h"
#include "concurrency/SerialQueue.h"
#include "support/LogCapture.h"

namespace oskel {
namespace {

using namespace std::chrono_literals;

// Thread-safe record of what ran, and when on the clock.
struct Trace {
  void add(std::string what) {
    std::lock_guard guard(mutex);
    entries.push_back(std::move(what));
  }
  std::vector<std::string> take() {
    std::lock_guard guard(mutex);
    return std::exchange(entries, {});
  }
  std::mutex mutex;
  std::vector<std::string> entries;
};

struct ManualQueue : ::testing::Test {
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  SerialQueue queue{"oskel.test", clock};
  Trace trace;
  const Clock::TimePoint start = clock->now();

  // Records `name` with the clock time in milliseconds since the test began.
  SerialQueue::Task mark(std::string name) {
    return [this, name] {
      const auto at = std::chrono::duration_cast<std::chrono::milliseconds>(clock->now() - start).count();
      trace.add(name + "@" + std::to_string(at));
    };
  }
};

TEST_F(ManualQueue, AThrowingTaskIsLoggedAndTheQueueGoesOn) {
  test::LogCapture log;
  queue.post([] { throw std::runtime_error("boom"); });
  queue.post([] { throw 42; });
  queue.post(mark("after"));
  clock->settle();
  EXPECT_EQ(trace.take(), std::vector<std::string>{"after@0"});
  EXPECT_TRUE(log.contains("ERROR task on queue oskel.test threw: boom"));
  EXPECT_TRUE(log.contains("task on queue oskel.test threw a non-standard exception"));
}

TEST_F(ManualQueue, DelayedTasksRunAtTheirOwnTimeInDueOrder) {
  queue.postAfter(3s, mark("c"));
  queue.postAfter(1s, mark("a"));
  queue.postAfter(2s, mark("b1"));
  queue.postAfter(2s, mark("b2"));  // same due time: posting order
  queue.post(mark("now"));
  clock->advance(2500ms);
  EXPECT_EQ(trace.take(), (std::vector<std::string>{"now@0", "a@1000", "b1@2000", "b2@2000"}));
  clock->advance(499ms);
  EXPECT_TRUE(trace.take().empty());
  clock->advance(1ms);
  EXPECT_EQ(trace.take(), (std::vector<std::string>{"c@3000"}));
}

TEST_F(ManualQueue, WorkScheduledByATaskRunsWithinTheSameAdvance) {
  queue.postAfter(1s, [&] {
    mark("outer")();
    queue.postAfter(1s, mark("inner"));
    queue.post(mark("follow-up"));
  });
  clock->advance(5s);
  EXPECT_EQ(trace.take(), (std::vector<std::string>{"outer@1000", "follow-up@1000", "inner@2000"}));
}

TEST_F(ManualQueue, CancelledTimersNeverRun) {
  Timer kept = queue.schedule(1s, mark("kept"));
  Timer cancelled = queue.schedule(1s, mark("cancelled"));
  cancelled.cancel();
  EXPECT_FALSE(cancelled);
  {
    Timer dropped = queue.schedule(1s, mark("dropped"));
  }
  Timer replaced = queue.schedule(1s, mark("replaced"));
  replaced = queue.schedule(2s, mark("replacement"));
  clock->advance(3s);
  EXPECT_EQ(trace.take(), (std::vector<std::string>{"kept@1000", "replacement@2000"}));
}

TEST_F(ManualQueue, RepeatingTimerTicksOnScheduleUntilCancelledEvenFromItsTask) {
  Timer ticker = queue.scheduleRepeating(2s, 2s, mark("tick"));
  clock->advance(7s);
  EXPECT_EQ(trace.take(), (std::vector<std::string>{"tick@2000", "tick@4000", "tick@6000"}));
  ticker.cancel();
  clock->advance(10s);
  EXPECT_TRUE(trace.take().empty());

  // Also from its own task.
  int ticks = 0;
  ticker = queue.scheduleRepeating(1s, 1s, [&] {
    if (++ticks == 3) ticker.cancel();
  });
  clock->advance(10s);
  EXPECT_EQ(ticks, 3);
}

TEST_F(ManualQueue, SettleWaitsForWorkPostedBetweenQueues) {
  SerialQueue other("oskel.other", clock);
  queue.postAfter(1s, [&] {
    mark("first")();
    other.post([&] {
      mark("second")();
      queue.post(mark("third"));
    });
  });
  clock->advance(1s);
  EXPECT_EQ(trace.take(), (std::vector<std::string>{"first@1000", "second@1000", "third@1000"}));
}

TEST_F(ManualQueue, RunsOnItsOwnNamedThread) {
  SerialQueue session("oskel.session.en→es", clock);
  std::string name;
  bool current = false;
  session.post([&] {
    char buffer[32] = {};
    pthread_getname_np(pthread_self(), buffer, sizeof buffer);
    name = buffer;
    current = session.isCurrent();
  });
  clock->settle();
  EXPECT_EQ(name, "oskel.session.e");
  EXPECT_TRUE(current);
  EXPECT_FALSE(session.isCurrent());
}

TEST_F(ManualQueue, DestroyingDiscardsPendingWorkAndReleasesItEvenWhenThatPosts) {
  // Releasing a pending task can destroy an object whose destructor posts to
  // the very queue being torn down.
  struct PostsOnDestruction {
    SerialQueue::Ref ref;
    ~PostsOnDestruction() {
      ref.post([] {});
    }
  };
  auto resource = std::make_shared<int>(1);
  auto queue2 = std::make_unique<SerialQueue>("oskel.test2", clock);
  auto ref = queue2->ref();
  queue2->postAfter(1h, [resource] {});
  Timer timer = queue2->schedule(1h, [resource] {});
  queue2->postAfter(1h, [guard = std::make_shared<PostsOnDestruction>(PostsOnDestruction{ref})] {});
  EXPECT_EQ(resource.use_count(), 3);
  queue2.reset();
  EXPECT_EQ(resource.use_count(), 1);
  EXPECT_FALSE(ref.post([] {}));
  clock->advance(2h);  // a destroyed queue is no longer driven
}

TEST_F(ManualQueue, MayBeDestroyedByItsOwnTask) {
  auto owned = std::make_shared<std::unique_ptr<SerialQueue>>(std::make_unique<SerialQueue>("oskel.self", clock));
  std::atomic<bool> ran{false};
  (*owned)->post([owned, &ran] {
    owned->reset();  // the queue's destructor runs on its own worker
    ran = true;
  });
  clock->settle();
  EXPECT_TRUE(ran);
  EXPECT_EQ(*owned, nullptr);
}

TEST(SystemQueue, PostsFromManyThreadsAllRunInPerThreadOrder) {
  SerialQueue queue("oskel.test");
  constexpr int threads = 4;
  constexpr int perThread = 2000;
  std::vector<std::vector<int>> seen(threads);  // touched only on the queue
  std::vector<std::thread> posters;
  for (int t = 0; t < threads; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < perThread; ++i) queue.post([&seen, t, i] { seen[t].push_back(i); });
    });
  for (auto& poster : posters) poster.join();
  queue.waitUntilIdle();
  std::vector<int> inOrder(perThread);
  std::iota(inOrder.begin(), inOrder.end(), 0);
  EXPECT_EQ(seen, std::vector(threads, inOrder));
}

TEST(SystemQueue, CancelFromAnotherThreadWhileTheQueueRuns) {
  SerialQueue queue("oskel.test");
  std::atomic<int> ran{0};
  for (int round = 0; round < 200; ++round) {
    Timer timer = queue.schedule(0ms, [&] { ++ran; });
    timer.cancel();
  }
  queue.waitUntilIdle();
  EXPECT_LE(ran.load(), 200);
}

TEST(Delays, SecondsBecomeSafeDurations) {
  EXPECT_EQ(delayFromSeconds(1.5), 1500ms);
  EXPECT_EQ(delayFromSeconds(-3.0), Clock::Duration::zero());
  EXPECT_EQ(delayFromSeconds(std::nan("")), Clock::Duration::zero());
  const auto huge = delayFromSeconds(1e300);
  EXPECT_GT(huge, 24h * 365 * 50);
  EXPECT_GT(Clock::system()->now() + huge, Clock::system()->now());  // no overflow
}

}  // namespace
}  // namespace oskel
