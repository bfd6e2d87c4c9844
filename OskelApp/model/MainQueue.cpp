#include "MainQueue.h"

#include <atomic>

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

namespace oskel {

namespace {

// Posting goes through the application object, so tasks posted from any
// thread run on the main thread's event loop in order.
class QtMainQueue final : public MainQueue {
 public:
  void post(Task task) override {
    auto* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, std::move(task), Qt::QueuedConnection);
  }

  Timer schedule(Clock::Duration delay, Task task) override {
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    auto* app = QCoreApplication::instance();
    if (!app) return Timer(cancelled);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(delay);
    QTimer::singleShot(ms, app, [cancelled, task = std::move(task)] {
      if (!cancelled->load(std::memory_order_acquire)) task();
    });
    return Timer(cancelled);
  }

  Clock& clock() override { return *clock_; }

 private:
  std::shared_ptr<Clock> clock_ = Clock::system();
};

}  // namespace

std::shared_ptr<MainQueue> MainQueue::qt() { return std::make_shared<QtMainQueue>(); }

}  // namespace oskel
