#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "audio/AudioHost.h"

namespace oskel {

// Calls a handler whenever the device list or the default input or output
// changes. One change may produce several calls (one per changed property);
// callers debounce. Listening starts on construction and ends on destruction.
class AudioDeviceObserver {
 public:
  using Handler = std::function<void()>;
  // Runs a task on the caller's queue. Empty: the handler runs on the host's
  // notification thread.
  using Executor = std::function<void(std::function<void()>)>;

  AudioDeviceObserver(std::shared_ptr<AudioHost> host, Handler handler, Executor executor = {});
  ~AudioDeviceObserver();
  AudioDeviceObserver(const AudioDeviceObserver&) = delete;
  AudioDeviceObserver& operator=(const AudioDeviceObserver&) = delete;

 private:
  std::shared_ptr<AudioHost> host_;
  // Shared with tasks already handed to the executor, which do nothing once
  // the observer is gone.
  std::shared_ptr<Handler> handler_;
  std::vector<std::unique_ptr<AudioHostListener>> listeners_;
};

}  // namespace oskel
