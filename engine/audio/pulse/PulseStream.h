#pragma once

#include <memory>

#include "audio/AudioHost.h"
#include "audio/pulse/PulseDeviceMap.h"

struct pa_stream;

namespace oskel::Pulse {

class Core;

// A record or playback stream on one sink or source, in interleaved float at
// the node's rate and channel map. It will not be moved to another device:
// when its device goes away it simply stops. start() connects a new server
// stream each time; stop() disconnects it.
class Stream final : public AudioHostStream {
 public:
  // Frames handed to the handler per call at most; larger server fragments
  // are delivered in several calls rather than cut.
  static constexpr size_t maxFramesPerCall = 4096;

  Stream(std::shared_ptr<Core> core, Side side, AudioScope scope, AudioHost::IOHandler handler);
  ~Stream() override;

  AudioHostStatus start() override;
  void stop() override;

 private:
  static void stateChanged(pa_stream* stream, void* self);
  static void writable(pa_stream* stream, size_t bytes, void* self);
  static void readable(pa_stream* stream, size_t bytes, void* self);
  void release();  // with the loop locked

  std::shared_ptr<Core> core_;
  Side side_;
  AudioScope scope_;
  AudioHost::IOHandler handler_;
  size_t frameBytes_;
  pa_stream* stream_ = nullptr;  // guarded by the loop lock
};

}  // namespace oskel::Pulse
