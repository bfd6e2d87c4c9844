#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <expected>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>

#include "audio/AudioHost.h"
#include "audio/AudioHostError.h"
#include "audio/ListenerRegistry.h"
#include "audio/pulse/PulseAudioHost.h"
#include "audio/pulse/PulseSnapshot.h"

struct pa_threaded_mainloop;
struct pa_context;
struct pa_operation;
struct pa_mainloop_api;

namespace oskel::Pulse {

// The connection to the server shared by the host and its streams: the
// threaded main loop, the context, device ids and change notification.
// Everything touching the context runs with the loop locked (Lock); queries
// wait for the server and so must not be made on the loop's own thread.
class Core : public std::enable_shared_from_this<Core> {
 public:
  using Options = PulseAudioHost::Options;

  static std::expected<std::shared_ptr<Core>, AudioHostError> connect(Options options);
  ~Core();
  Core(const Core&) = delete;
  Core& operator=(const Core&) = delete;

  // The loop's lock; recursive, so the loop's own thread may take it too.
  class Lock {
   public:
    explicit Lock(const Core& core);
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

   private:
    pa_threaded_mainloop* loop_;
  };

  const Options& options() const { return options_; }
  pa_threaded_mainloop* loop() const { return loop_; }
  // With the loop locked.
  pa_context* context() const { return context_; }
  bool ready() const;
  bool inLoopThread() const;
  // With the loop locked: waits for the next signal of the loop.
  void wait() const;
  // With the loop locked: waits until the operation ends; true when it completed.
  bool await(pa_operation* operation) const;
  // The context's last error number, or a generic one when it has none.
  int32_t lastError() const;

  // Everything the device mapping needs, read in one round of requests.
  std::optional<Snapshot> snapshot();
  std::string serverDescription();

  // Stable ids per device UID for the life of the connection.
  AudioDeviceID idFor(const std::string& uid);
  std::optional<std::string> uidFor(AudioDeviceID id);

  ListenerRegistry& listeners() { return *listeners_; }
  // From the loop's thread: a device appeared or vanished, or the server's
  // settings (the defaults among them) changed.
  void enqueue(bool deviceEvent);

  std::expected<uint32_t, std::string> loadModule(const std::string& name, const std::string& arguments);
  std::expected<void, std::string> unloadModule(uint32_t index);
  std::expected<void, std::string> setSourceVolume(const std::string& source, std::span<const float> volume);
  std::expected<void, std::string> setDefault(AudioScope scope, const std::string& node);

 private:
  explicit Core(Options options);
  std::expected<void, AudioHostError> start();
  std::string triedServers() const;
  void subscribe();
  void runNotifier();

  static void contextState(pa_context* context, void* self);
  static void raisePriority(pa_mainloop_api* api, void* unused);
  // Below the audio servers' own IO threads (PulseAudio uses 5, PipeWire 88).
  static constexpr int realtimePriority = 4;

  Options options_;
  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  std::shared_ptr<ListenerRegistry> listeners_ = ListenerRegistry::make();

  std::mutex idMutex_;
  std::map<std::string, AudioDeviceID> ids_;
  AudioDeviceID nextID_ = 1;

  // Server events travel from the loop's thread to the notifier thread,
  // which may query the server and calls the listeners.
  std::mutex eventMutex_;
  std::condition_variable eventSignal_;
  bool deviceEvent_ = false;
  bool serverEvent_ = false;
  bool quitting_ = false;
  std::thread notifier_;
};

}  // namespace oskel::Pulse
