#include "audio/AudioDeviceObserver.h"

namespace oskel {

AudioDeviceObserver::AudioDeviceObserver(std::shared_ptr<AudioHost> host, Handler handler,
                                         Executor executor)
    : host_(std::move(host)), handler_(std::make_shared<Handler>(std::move(handler))) {
  std::weak_ptr<Handler> weak = handler_;
  auto notify = [weak, executor = std::move(executor)] {
    if (!executor) {
      if (auto live = weak.lock()) (*live)();
      return;
    }
    executor([weak] {
      if (auto live = weak.lock()) (*live)();
    });
  };
  for (auto property : {AudioHostProperty::devices, AudioHostProperty::defaultInput,
                        AudioHostProperty::defaultOutput}) {
    if (auto listener = host_->listen(property, 0, notify)) listeners_.push_back(std::move(listener));
  }
}

AudioDeviceObserver::~AudioDeviceObserver() {
  listeners_.clear();
  handler_.reset();
}

}  // namespace oskel
