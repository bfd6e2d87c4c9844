#include "audio/pulse/PulseCore.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <pthread.h>
#include <sched.h>

#include <fmt/format.h>

namespace oskel::Pulse {
namespace {

std::string text(const char* s) { return s ? std::string(s) : std::string(); }

std::map<std::string, std::string> propertiesOf(const pa_proplist* list) {
  std::map<std::string, std::string> properties;
  void* state = nullptr;
  while (const char* key = pa_proplist_iterate(list, &state)) {
    if (const char* value = pa_proplist_gets(list, key)) properties.emplace(key, value);
  }
  return properties;
}

std::string channelMapText(const pa_channel_map& map) {
  char buffer[PA_CHANNEL_MAP_SNPRINT_MAX];
  return pa_channel_map_snprint(buffer, sizeof buffer, &map);
}

void readFormats(Node& node, pa_format_info** formats, uint8_t count) {
  if (count == 0) return;  // servers that do not list formats take PCM
  node.acceptsPCM = false;
  for (uint8_t i = 0; i < count; ++i) {
    if (formats[i] && formats[i]->encoding == PA_ENCODING_PCM) node.acceptsPCM = true;
  }
  if (!node.acceptsPCM && formats[0]) node.firstEncoding = static_cast<uint32_t>(formats[0]->encoding);
}

// Collects the answers of one snapshot round; every callback runs on the
// loop's thread and signals the waiting caller.
struct SnapshotRound {
  pa_threaded_mainloop* loop;
  Snapshot snapshot;
  std::string serverName;
  std::string serverVersion;
  bool failed = false;

  static void server(pa_context*, const pa_server_info* info, void* self) {
    auto* round = static_cast<SnapshotRound*>(self);
    if (info) {
      round->snapshot.defaultSink = text(info->default_sink_name);
      round->snapshot.defaultSource = text(info->default_source_name);
      round->serverName = text(info->server_name);
      round->serverVersion = text(info->server_version);
    } else {
      round->failed = true;
    }
    pa_threaded_mainloop_signal(round->loop, 0);
  }

  // One list entry per call, then a call with eol set: 1 at the end, negative on failure.
  template <class Info, class Take>
  static void entry(const Info* info, int eol, void* self, Take take) {
    auto* round = static_cast<SnapshotRound*>(self);
    if (eol < 0) round->failed = true;
    if (eol != 0 || !info) {
      pa_threaded_mainloop_signal(round->loop, 0);
      return;
    }
    take(*round, *info);
  }

  // The facts sinks and sources share.
  template <class Info>
  static Node nodeOf(const Info& info) {
    Node node;
    node.index = info.index;
    node.name = text(info.name);
    node.description = text(info.description);
    node.card = info.card;
    node.ownerModule = info.owner_module;
    node.channels = info.sample_spec.channels;
    node.channelMap = channelMapText(info.channel_map);
    node.rate = info.sample_spec.rate;
    readFormats(node, info.formats, info.n_formats);
    node.properties = propertiesOf(info.proplist);
    for (uint8_t c = 0; c < info.volume.channels; ++c) {
      node.volume.push_back(static_cast<float>(info.volume.values[c]) / static_cast<float>(PA_VOLUME_NORM));
    }
    return node;
  }

  static void sink(pa_context*, const pa_sink_info* info, int eol, void* self) {
    entry(info, eol, self, [](SnapshotRound& round, const pa_sink_info& sink) {
      Node node = nodeOf(sink);
      node.monitorSource = text(sink.monitor_source_name);
      node.hardware = (sink.flags & PA_SINK_HARDWARE) != 0;
      round.snapshot.sinks.push_back(std::move(node));
    });
  }

  static void source(pa_context*, const pa_source_info* info, int eol, void* self) {
    entry(info, eol, self, [](SnapshotRound& round, const pa_source_info& source) {
      Node node = nodeOf(source);
      node.monitorOfSink = source.monitor_of_sink;
      node.hardware = (source.flags & PA_SOURCE_HARDWARE) != 0;
      round.snapshot.sources.push_back(std::move(node));
    });
  }

  static void module(pa_context*, const pa_module_info* info, int eol, void* self) {
    entry(info, eol, self, [](SnapshotRound& round, const pa_module_info& module) {
      round.snapshot.modules.emplace(module.index, text(module.name));
      round.snapshot.moduleArguments.emplace(module.index, text(module.argument));
    });
  }
};

struct Completion {
  pa_threaded_mainloop* loop;
  bool success = false;
  uint32_t index = PA_INVALID_INDEX;

  static void succeeded(pa_context*, int success, void* self) {
    auto* completion = static_cast<Completion*>(self);
    completion->success = success != 0;
    pa_threaded_mainloop_signal(completion->loop, 0);
  }
  static void indexed(pa_context*, uint32_t index, void* self) {
    auto* completion = static_cast<Completion*>(self);
    completion->index = index;
    completion->success = index != PA_INVALID_INDEX;
    pa_threaded_mainloop_signal(completion->loop, 0);
  }
};

}  // namespace

Core::Lock::Lock(const Core& core) : loop_(core.loop_) { pa_threaded_mainloop_lock(loop_); }
Core::Lock::~Lock() { pa_threaded_mainloop_unlock(loop_); }

Core::Core(Options options) : options_(std::move(options)) {}

std::expected<std::shared_ptr<Core>, AudioHostError> Core::connect(Options options) {
  std::shared_ptr<Core> core(new Core(std::move(options)));
  if (auto started = core->start(); !started) return std::unexpected(started.error());
  core->notifier_ = std::thread([raw = core.get()] { raw->runNotifier(); });
  return core;
}

std::string Core::triedServers() const {
  if (!options_.server.empty()) return options_.server;
  if (const char* env = std::getenv("PULSE_SERVER"); env && *env) return fmt::format("{} (from PULSE_SERVER)", env);
  std::string session = "the session's socket (XDG_RUNTIME_DIR is not set)";
  if (const char* path = std::getenv("PULSE_RUNTIME_PATH"); path && *path) {
    session = fmt::format("unix:{}/native", path);
  } else if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg && *xdg) {
    session = fmt::format("unix:{}/pulse/native", xdg);
  }
  return session + ", then unix:/var/run/pulse/native";
}

std::expected<void, AudioHostError> Core::start() {
  loop_ = pa_threaded_mainloop_new();
  if (!loop_) return std::unexpected(AudioHostError{"cannot create the audio client's main loop"});
  pa_threaded_mainloop_set_name(loop_, "oskel.pulse");
  pa_mainloop_api_once(pa_threaded_mainloop_get_api(loop_), &Core::raisePriority, nullptr);
  if (pa_threaded_mainloop_start(loop_) < 0) {
    return std::unexpected(AudioHostError{"cannot start the audio client's main loop"});
  }
  Lock lock(*this);
  // Our streams are a few hundred kB/s: copying them over the socket costs
  // little, while the shared-memory pools grow the resident size for hours.
  pa_proplist* properties = pa_proplist_new();
  pa_proplist_sets(properties, PA_PROP_CONTEXT_FORCE_DISABLE_SHM, "yes");
  context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), options_.applicationName.c_str(),
                                          properties);
  pa_proplist_free(properties);
  if (!context_) return std::unexpected(AudioHostError{"cannot create an audio server context"});
  pa_context_set_state_callback(context_, &Core::contextState, this);
  const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
  int error = 0;
  if (pa_context_connect(context_, server, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    error = pa_context_errno(context_);
  } else {
    for (;;) {
      const auto state = pa_context_get_state(context_);
      if (state == PA_CONTEXT_READY) break;
      if (!PA_CONTEXT_IS_GOOD(state)) {
        error = pa_context_errno(context_);
        break;
      }
      wait();
    }
  }
  if (error != 0) {
    return std::unexpected(AudioHostError{fmt::format(
        "cannot connect to the audio server (PulseAudio or PipeWire) at {}: {}", triedServers(),
        pa_strerror(error))});
  }
  subscribe();
  return {};
}

Core::~Core() {
  {
    std::lock_guard guard(eventMutex_);
    quitting_ = true;
  }
  eventSignal_.notify_all();
  if (notifier_.joinable()) notifier_.join();
  if (loop_) {
    {
      Lock lock(*this);
      if (context_) {
        pa_context_set_state_callback(context_, nullptr, nullptr);
        pa_context_set_subscribe_callback(context_, nullptr, nullptr);
        pa_context_disconnect(context_);
        pa_context_unref(context_);
        context_ = nullptr;
      }
    }
    pa_threaded_mainloop_stop(loop_);
    pa_threaded_mainloop_free(loop_);
  }
}

bool Core::ready() const { return context_ && pa_context_get_state(context_) == PA_CONTEXT_READY; }

bool Core::inLoopThread() const { return pa_threaded_mainloop_in_thread(loop_) != 0; }

void Core::wait() const { pa_threaded_mainloop_wait(loop_); }

bool Core::await(pa_operation* operation) const {
  if (!operation) return false;
  while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING && ready()) wait();
  const bool done = pa_operation_get_state(operation) == PA_OPERATION_DONE;
  if (!done) pa_operation_cancel(operation);
  pa_operation_unref(operation);
  return done;
}

int32_t Core::lastError() const {
  const int error = context_ ? pa_context_errno(context_) : PA_ERR_CONNECTIONTERMINATED;
  return error != 0 ? error : PA_ERR_UNKNOWN;
}

// The loop's thread runs the IO callbacks: a busy machine should not delay
// them. Real-time scheduling is asked for and silently done without when the
// system does not allow it.
void Core::raisePriority(pa_mainloop_api*, void*) {
  sched_param param{};
  param.sched_priority = realtimePriority;
  (void)pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
}

void Core::contextState(pa_context* context, void* self) {
  auto* core = static_cast<Core*>(self);
  // A server that goes away takes every device with it.
  if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) core->enqueue(true);
  pa_threaded_mainloop_signal(core->loop_, 0);
}

namespace {

void subscription(pa_context*, pa_subscription_event_type_t type, uint32_t, void* self) {
  const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
  const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
  auto* core = static_cast<Core*>(self);
  if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
    core->enqueue(false);
  } else if (kind == PA_SUBSCRIPTION_EVENT_NEW || kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
    core->enqueue(true);
  }
}

}  // namespace

void Core::subscribe() {
  pa_context_set_subscribe_callback(context_, &subscription, this);
  const auto mask = static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SOURCE |
                                                        PA_SUBSCRIPTION_MASK_SERVER);
  if (auto* operation = pa_context_subscribe(context_, mask, nullptr, nullptr)) pa_operation_unref(operation);
}


void Core::enqueue(bool deviceEvent) {
  {
    std::lock_guard guard(eventMutex_);
    (deviceEvent ? deviceEvent_ : serverEvent_) = true;
  }
  eventSignal_.notify_one();
}

void Core::runNotifier() {
  const auto defaults = [this]() -> std::optional<std::pair<std::string, std::string>> {
    auto snap = snapshot();
    if (!snap) return std::nullopt;
    return std::pair{snap->defaultSink, snap->defaultSource};
  };
  auto last = defaults();
  for (;;) {
    bool devices = false;
    {
      std::unique_lock guard(eventMutex_);
      eventSignal_.wait(guard, [&] { return quitting_ || deviceEvent_ || serverEvent_; });
      if (quitting_) return;
      devices = deviceEvent_;
      deviceEvent_ = serverEvent_ = false;
    }
    if (devices) listeners_->notify(AudioHostProperty::devices);
    // A device change can move a default as well, so look at both after any event.
    auto now = defaults();
    if (!now) continue;
    if (!last || last->first != now->first) listeners_->notify(AudioHostProperty::defaultOutput);
    if (!last || last->second != now->second) listeners_->notify(AudioHostProperty::defaultInput);
    last = std::move(now);
  }
}

std::optional<Snapshot> Core::snapshot() {
  if (inLoopThread()) return std::nullopt;
  Lock lock(*this);
  if (!ready()) return std::nullopt;
  SnapshotRound round{loop_, {}, {}, {}};
  pa_operation* operations[] = {
      pa_context_get_server_info(context_, &SnapshotRound::server, &round),
      pa_context_get_sink_info_list(context_, &SnapshotRound::sink, &round),
      pa_context_get_source_info_list(context_, &SnapshotRound::source, &round),
      pa_context_get_module_info_list(context_, &SnapshotRound::module, &round),
  };
  bool complete = true;
  for (auto* operation : operations) complete = await(operation) && complete;
  if (!complete || round.failed) return std::nullopt;
  return std::move(round.snapshot);
}

std::string Core::serverDescription() {
  if (inLoopThread()) return {};
  Lock lock(*this);
  if (!ready()) return "not connected";
  SnapshotRound round{loop_, {}, {}, {}};
  if (!await(pa_context_get_server_info(context_, &SnapshotRound::server, &round))) return "not answering";
  return fmt::format("{} {} at {}", round.serverName, round.serverVersion, text(pa_context_get_server(context_)));
}

AudioDeviceID Core::idFor(const std::string& uid) {
  std::lock_guard guard(idMutex_);
  auto [it, inserted] = ids_.try_emplace(uid, nextID_);
  if (inserted) ++nextID_;
  return it->second;
}

std::optional<std::string> Core::uidFor(AudioDeviceID id) {
  std::lock_guard guard(idMutex_);
  for (const auto& [uid, known] : ids_) {
    if (known == id) return uid;
  }
  return std::nullopt;
}

std::expected<uint32_t, std::string> Core::loadModule(const std::string& name, const std::string& arguments) {
  if (inLoopThread()) return std::unexpected("cannot load a module from the audio thread");
  Lock lock(*this);
  if (!ready()) return std::unexpected("not connected to the audio server");
  Completion completion{loop_};
  const bool done =
      await(pa_context_load_module(context_, name.c_str(), arguments.c_str(), &Completion::indexed, &completion));
  if (!done || !completion.success) return std::unexpected(pa_strerror(lastError()));
  return completion.index;
}

std::expected<void, std::string> Core::unloadModule(uint32_t index) {
  if (inLoopThread()) return std::unexpected("cannot unload a module from the audio thread");
  Lock lock(*this);
  if (!ready()) return std::unexpected("not connected to the audio server");
  Completion completion{loop_};
  const bool done = await(pa_context_unload_module(context_, index, &Completion::succeeded, &completion));
  if (!done || !completion.success) return std::unexpected(pa_strerror(lastError()));
  return {};
}

std::expected<void, std::string> Core::setSourceVolume(const std::string& source, std::span<const float> volume) {
  if (inLoopThread()) return std::unexpected("cannot change volumes from the audio thread");
  if (volume.empty() || volume.size() > PA_CHANNELS_MAX) return std::unexpected("no volume to set");
  pa_cvolume levels;
  pa_cvolume_init(&levels);
  levels.channels = static_cast<uint8_t>(volume.size());
  for (size_t c = 0; c < volume.size(); ++c) {
    levels.values[c] = static_cast<pa_volume_t>(std::lround(std::max(0.0f, volume[c]) * PA_VOLUME_NORM));
  }
  Lock lock(*this);
  if (!ready()) return std::unexpected("not connected to the audio server");
  Completion completion{loop_};
  auto* operation =
      pa_context_set_source_volume_by_name(context_, source.c_str(), &levels, &Completion::succeeded, &completion);
  if (!await(operation) || !completion.success) return std::unexpected(pa_strerror(lastError()));
  return {};
}

std::expected<void, std::string> Core::setDefault(AudioScope scope, const std::string& node) {
  if (inLoopThread()) return std::unexpected("cannot change defaults from the audio thread");
  Lock lock(*this);
  if (!ready()) return std::unexpected("not connected to the audio server");
  Completion completion{loop_};
  auto* operation = scope == AudioScope::output
                        ? pa_context_set_default_sink(context_, node.c_str(), &Completion::succeeded, &completion)
                        : pa_context_set_default_source(context_, node.c_str(), &Completion::succeeded, &completion);
  if (!await(operation) || !completion.success) return std::unexpected(pa_strerror(lastError()));
  return {};
}

}  // namespace oskel::Pulse
