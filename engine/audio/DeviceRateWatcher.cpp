#include "audio/DeviceRateWatcher.h"

#include <fmt/format.h>

#include "log/Log.h"

namespace oskel {

DeviceRateWatcher::DeviceRateWatcher(std::shared_ptr<AudioHost> host, AudioDeviceInfo device, double presentedRate,
                                     std::string direction)
    : host_(std::move(host)), device_(std::move(device)), presentedRate_(presentedRate),
      direction_(std::move(direction)) {}

DeviceRateWatcher::~DeviceRateWatcher() { stop(); }

void DeviceRateWatcher::start() {
  if (!listener_) {
    // Dropping the listener waits for a running call, so `this` outlives every call.
    listener_ = host_->listen(AudioHostProperty::nominalSampleRate, device_.id, [this] { update(); });
  }
  update();
}

void DeviceRateWatcher::stop() {
  listener_.reset();
  std::lock_guard serial(updateMutex_);
  std::shared_ptr<RateBridge> last;
  {
    std::lock_guard guard(lock_);
    last = std::move(current_);
  }
  retired_.clear();
}

void DeviceRateWatcher::update() {
  std::lock_guard serial(updateMutex_);
  const auto scope = isCapture() ? AudioScope::input : AudioScope::output;
  const auto actual = host_->nominalSampleRate(device_.id, scope);
  if (!actual || *actual <= 0) return;

  std::shared_ptr<RateBridge> bridge = current();
  if (!bridge && *actual == presentedRate_) return;
  if (bridge && *actual == (isCapture() ? bridge->fromRate() : bridge->toRate())) return;

  // Built before taking the lock: the IO thread must not wait on an allocation.
  std::shared_ptr<RateBridge> replacement;
  if (*actual != presentedRate_) {
    replacement = isCapture() ? std::make_shared<RateBridge>(*actual, presentedRate_)
                              : std::make_shared<RateBridge>(presentedRate_, *actual);
  }
  {
    std::lock_guard guard(lock_);
    current_.swap(replacement);
  }
  if (replacement) retired_.push_back(std::move(replacement));
  Log::info([&] {
    return fmt::format("{} now runs at {} Hz; {} resampled from/to {} Hz", device_.name,
                       static_cast<int64_t>(*actual), direction_, static_cast<int64_t>(presentedRate_));
  });
}

std::shared_ptr<RateBridge> DeviceRateWatcher::current() const {
  std::lock_guard guard(lock_);
  return current_;
}

}  // namespace oskel
