#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioDeviceInfo.h"
#include "audio/AudioHost.h"
#include "audio/RateBridge.h"
#include "dsp/UnfairLock.h"

namespace oskel {

// Notices when another program changes a device's nominal rate under a
// running endpoint and puts a RateBridge between the device and the
// endpoint's callback, so that the endpoint keeps its promised rate; drops
// the bridge when the device comes back to that rate. Replaced bridges stay
// alive until stop(), because the IO thread may still hold one.
//
// Rate changes arrive on the host's notification thread; a host that cannot
// report them (the server resamples on its own) leaves the watcher passive.
class DeviceRateWatcher {
 public:
  // direction: "capture" (bridge from the device's rate to the presented one)
  // or "playback" (from the presented rate to the device's).
  DeviceRateWatcher(std::shared_ptr<AudioHost> host, AudioDeviceInfo device, double presentedRate,
                    std::string direction);
  ~DeviceRateWatcher();
  DeviceRateWatcher(const DeviceRateWatcher&) = delete;
  DeviceRateWatcher& operator=(const DeviceRateWatcher&) = delete;

  // Listens for rate changes (once) and looks at the rate right away.
  void start();
  // Stops listening and releases every bridge; the IO must be stopped first.
  void stop();
  // Reads the device's rate and adds, replaces or drops the bridge.
  void update();

  // For the IO thread: the bridge in use, or null while the device runs at
  // the presented rate. Takes the lock only to copy the pointer.
  std::shared_ptr<RateBridge> current() const;

  double presentedRate() const { return presentedRate_; }

 private:
  bool isCapture() const { return direction_ == "capture"; }

  std::shared_ptr<AudioHost> host_;
  AudioDeviceInfo device_;
  double presentedRate_;
  std::string direction_;

  // Updates and stop run one at a time under updateMutex_, which the IO
  // thread never takes; while holding it they take lock_ for the swap. This
  // is the watcher's one nesting of locks, always in this order.
  std::mutex updateMutex_;  // guards retired_
  mutable UnfairLock lock_;  // guards current_
  std::shared_ptr<RateBridge> current_;
  std::vector<std::shared_ptr<RateBridge>> retired_;
  std::unique_ptr<AudioHostListener> listener_;
};

}  // namespace oskel
