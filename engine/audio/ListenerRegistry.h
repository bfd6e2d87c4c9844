#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "audio/AudioHost.h"

namespace oskel {

// The listener bookkeeping both host adapters share. Removing a listener
// waits for a call of it that is running on another thread, so that after
// the handle is gone the callback never runs again.
class ListenerRegistry : public std::enable_shared_from_this<ListenerRegistry> {
 public:
  static std::shared_ptr<ListenerRegistry> make();

  std::unique_ptr<AudioHostListener> add(AudioHostProperty property, AudioDeviceID device,
                                         AudioHost::Listener listener);
  // Calls, on this thread, every listener of the property (and device, for
  // per-device properties). Must not be called with a lock the listeners take.
  void notify(AudioHostProperty property, AudioDeviceID device = 0);

  struct Entry;

 private:
  ListenerRegistry() = default;
  void remove(const std::shared_ptr<Entry>& entry);

  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Entry>> entries_;
};

}  // namespace oskel
