#include "pipeline/OutputTap.h"

#include <utility>

namespace oskel {

void OutputTap::set(Callback callback) {
  auto next = callback ? std::make_shared<const Callback>(std::move(callback)) : nullptr;
  std::shared_ptr<const Callback> previous;
  {
    std::lock_guard guard(lock_);
    previous = std::exchange(current_, std::move(next));
  }
  std::lock_guard guard(retiredMutex_);
  // Once replaced, an observer cannot be picked up again, so one that only
  // this list still holds is no longer being called and may go.
  std::erase_if(retired_, [](const auto& observer) { return observer.use_count() == 1; });
  if (previous) retired_.push_back(std::move(previous));
}

void OutputTap::deliver(std::span<const float> block) const {
  std::shared_ptr<const Callback> observer;
  {
    std::lock_guard guard(lock_);
    observer = current_;
  }
  if (observer) (*observer)(block);
}

}  // namespace oskel
