#include "audio/pulse/PulseStream.h"

#include <pulse/pulseaudio.h>

#include <algorithm>

#include "audio/pulse/PulseCore.h"

namespace oskel::Pulse {
namespace {

uint32_t bytesFor(double milliseconds, const pa_sample_spec& spec) {
  return static_cast<uint32_t>(pa_usec_to_bytes(static_cast<pa_usec_t>(milliseconds * 1000.0), &spec));
}

}  // namespace

Stream::Stream(std::shared_ptr<Core> core, Side side, AudioScope scope, AudioHost::IOHandler handler)
    : core_(std::move(core)), side_(std::move(side)), scope_(scope), handler_(std::move(handler)),
      frameBytes_(size_t{side_.channels} * sizeof(float)) {}

Stream::~Stream() { stop(); }

AudioHostStatus Stream::start() {
  if (core_->inLoopThread()) return PA_ERR_BADSTATE;
  Core::Lock lock(*core_);
  if (stream_) return 0;
  if (!core_->ready()) return PA_ERR_CONNECTIONTERMINATED;

  const pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, side_.rate, static_cast<uint8_t>(side_.channels)};
  pa_channel_map map;
  // The node's own channel map, so that the server passes channels through
  // rather than remixing them.
  if (!pa_channel_map_parse(&map, side_.channelMap.c_str()) || map.channels != spec.channels) {
    pa_channel_map_init_extend(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT);
  }
  if (!pa_sample_spec_valid(&spec)) return PA_ERR_INVALID;

  const auto& options = core_->options();
  const std::string name = options.applicationName + (scope_ == AudioScope::input ? " capture" : " playback");
  stream_ = pa_stream_new(core_->context(), name.c_str(), &spec, &map);
  if (!stream_) return core_->lastError();
  pa_stream_set_state_callback(stream_, &Stream::stateChanged, this);

  pa_buffer_attr attributes{};
  attributes.maxlength = UINT32_MAX;
  attributes.tlength = UINT32_MAX;
  attributes.prebuf = UINT32_MAX;
  attributes.minreq = UINT32_MAX;
  attributes.fragsize = UINT32_MAX;
  const double requested = scope_ == AudioScope::output ? options.playbackBufferMs : options.captureFragmentMs;
  const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_DONT_MOVE | (requested > 0 ? PA_STREAM_ADJUST_LATENCY : 0));
  int connected = 0;
  // A non-positive request leaves the server's default buffering.
  if (scope_ == AudioScope::output) {
    if (options.playbackBufferMs > 0) {
      attributes.tlength = bytesFor(options.playbackBufferMs, spec);
      attributes.minreq = bytesFor(options.playbackBufferMs / 4, spec);
    }
    pa_stream_set_write_callback(stream_, &Stream::writable, this);
    connected = pa_stream_connect_playback(stream_, side_.node.c_str(), &attributes, flags, nullptr, nullptr);
  } else {
    if (options.captureFragmentMs > 0) attributes.fragsize = bytesFor(options.captureFragmentMs, spec);
    pa_stream_set_read_callback(stream_, &Stream::readable, this);
    connected = pa_stream_connect_record(stream_, side_.node.c_str(), &attributes, flags);
  }
  if (connected < 0) {
    const auto status = core_->lastError();
    release();
    return status;
  }
  for (;;) {
    const auto state = pa_stream_get_state(stream_);
    if (state == PA_STREAM_READY) return 0;
    if (!PA_STREAM_IS_GOOD(state) || !core_->ready()) {
      const auto status = core_->lastError();
      release();
      return status;
    }
    core_->wait();
  }
}

void Stream::stop() {
  Core::Lock lock(*core_);
  release();
}

void Stream::release() {
  if (!stream_) return;
  pa_stream_set_state_callback(stream_, nullptr, nullptr);
  pa_stream_set_write_callback(stream_, nullptr, nullptr);
  pa_stream_set_read_callback(stream_, nullptr, nullptr);
  if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream_))) pa_stream_disconnect(stream_);
  pa_stream_unref(stream_);
  stream_ = nullptr;
}

void Stream::stateChanged(pa_stream*, void* self) {
  pa_threaded_mainloop_signal(static_cast<Stream*>(self)->core_->loop(), 0);
}

// The loop thread is this stream's IO thread: each call fills the server's
// own write buffer in place.
void Stream::writable(pa_stream* stream, size_t bytes, void* self) {
  auto* me = static_cast<Stream*>(self);
  const size_t chunk = maxFramesPerCall * me->frameBytes_;
  while (bytes >= me->frameBytes_) {
    void* data = nullptr;
    size_t size = std::min(bytes, chunk);
    if (pa_stream_begin_write(stream, &data, &size) < 0 || !data) return;
    size = std::min({size, bytes, chunk}) / me->frameBytes_ * me->frameBytes_;
    if (size == 0) {
      pa_stream_cancel_write(stream);
      return;
    }
    AudioBuffer buffer{me->side_.channels, static_cast<uint32_t>(size), data};
    me->handler_(std::span(&buffer, 1));
    if (pa_stream_write(stream, data, size, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
    bytes -= size;
  }
}

void Stream::readable(pa_stream* stream, size_t, void* self) {
  auto* me = static_cast<Stream*>(self);
  const size_t chunk = maxFramesPerCall * me->frameBytes_;
  for (;;) {
    const void* data = nullptr;
    size_t size = 0;
    if (pa_stream_peek(stream, &data, &size) < 0 || size == 0) return;
    // A hole (no data) is a gap the server reports; nothing to deliver.
    if (data) {
      auto* bytes = static_cast<uint8_t*>(const_cast<void*>(data));
      for (size_t offset = 0; offset < size; offset += chunk) {
        const size_t n = std::min(chunk, size - offset);
        AudioBuffer buffer{me->side_.channels, static_cast<uint32_t>(n), bytes + offset};
        me->handler_(std::span(&buffer, 1));
      }
    }
    pa_stream_drop(stream);
  }
}

}  // namespace oskel::Pulse
