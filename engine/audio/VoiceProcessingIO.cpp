#include "audio/VoiceProcessingIO.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <future>
#include <thread>

#include <fmt/format.h>
#include <fmt/ranges.h>

#include "audio/AudioDevices.h"
#include "dsp/RealtimeSection.h"
#include "log/Log.h"

namespace oskel {

std::string VoiceProcessingIO::Failure::description() const {
  return std::visit([](const auto& failure) { return "voice processing IO: " + failure.message; }, value);
}

namespace {

int64_t whole(double rate) { return static_cast<int64_t>(rate); }

}  // namespace

VoiceProcessingIO::VoiceProcessingIO(std::shared_ptr<AudioHost> host, std::shared_ptr<EchoCancelHost> canceller,
                                     AudioDeviceInfo microphone, AudioDeviceInfo speaker, Options options)
    : host_(std::move(host)), cancelHost_(std::move(canceller)), inputDevice_(std::move(microphone)),
      outputDevice_(std::move(speaker)), options_(std::move(options)),
      engineQueue_(std::make_unique<SerialQueue>("oskel.voiceio", options_.clock)),
      downmix_(std::make_unique<float[]>(bufferCapacity)), converted_(std::make_unique<float[]>(bufferCapacity)),
      pullBuffer_(std::make_unique<float[]>(bufferCapacity)), pending_(std::make_unique<float[]>(bufferCapacity)) {}

std::expected<std::shared_ptr<VoiceProcessingIO>, VoiceProcessingIO::Failure> VoiceProcessingIO::make(
    std::shared_ptr<AudioHost> host, std::shared_ptr<EchoCancelHost> canceller, AudioDeviceInfo microphone,
    AudioDeviceInfo speaker, Options options) {
  std::shared_ptr<VoiceProcessingIO> io(new VoiceProcessingIO(std::move(host), std::move(canceller),
                                                              std::move(microphone), std::move(speaker),
                                                              std::move(options)));
  if (auto built = io->construct(); !built) {
    io->close();
    return std::unexpected(built.error());
  }
  return io;
}

std::expected<void, VoiceProcessingIO::Failure> VoiceProcessingIO::construct() {
  const auto in = formatOf(inputDevice_.id, AudioScope::input);
  if (!in || in->rate <= 0 || in->channels == 0) {
    return std::unexpected(Failure::format("no usable input format for " + inputDevice_.name));
  }
  const auto out = formatOf(outputDevice_.id, AudioScope::output);
  if (!out || out->rate <= 0) {
    return std::unexpected(Failure::format("no usable output format for " + outputDevice_.name));
  }

  if (const int stale = cancelHost_->unloadStaleEchoCancellers(); stale > 0) {
    Log::info([&] { return fmt::format("voice processing IO: unloaded {} echo canceller(s) left by an earlier Oskel", stale); });
  }
  savedInputVolume_ = readInputVolume(inputDevice_.id);
  auto route = loadCanceller(inputDevice_, outputDevice_);
  if (!route) return std::unexpected(Failure{Failure::Canceller{route.error()}});

  input_ = std::make_shared<Input>(shared_from_this());
  output_ = std::make_shared<Output>(shared_from_this());
  if (auto connected = connectGraph(*route); !connected) return std::unexpected(Failure::format(connected.error()));

  {
    std::lock_guard guard(stateMutex_);
    lastWatched_ = watchedState();
  }
  const std::weak_ptr<VoiceProcessingIO> weak = weak_from_this();
  observer_ = host_->listen(AudioHostProperty::devices, 0, [weak] {
    if (auto self = weak.lock()) self->deviceListChanged();
  });

  Log::info([&] {
    return fmt::format("voice processing IO: {} ({} Hz, {} ch) -> echo cancellation -> {} ({} Hz)",
                       inputDevice_.name, whole(in->rate), in->channels, outputDevice_.name, whole(out->rate));
  });
  return {};
}

// Runs `work` on the engine queue and waits for it; inline when already there.
template <class Work>
auto VoiceProcessingIO::onQueue(Work&& work) const {
  if (engineQueue_->isCurrent()) return work();
  std::packaged_task<decltype(work())()> task(std::forward<Work>(work));
  auto result = task.get_future();
  engineQueue_->post([&task] { task(); });
  return result.get();
}

VoiceProcessingIO::~VoiceProcessingIO() { close(); }

std::shared_ptr<VoiceProcessingIO::Input> VoiceProcessingIO::input() const { return input_; }
std::shared_ptr<VoiceProcessingIO::Output> VoiceProcessingIO::output() const { return output_; }

bool VoiceProcessingIO::echoCancellationOn() const {
  return onQueue([this] { return echoOn_ && canceller_.has_value(); });
}

std::optional<EchoCanceller> VoiceProcessingIO::canceller() const {
  return onQueue([this] { return canceller_; });
}

// ---------------------------------------------------------------------------
// Formats and devices

std::optional<VoiceProcessingIO::Format> VoiceProcessingIO::formatOf(AudioDeviceID id, AudioScope scope) {
  const auto format = host_->streamFormat(id, scope);
  if (!format) return std::nullopt;
  return Format{format->sampleRate, format->channelsPerFrame};
}

// The device as the host lists it now, found by its UID: a device that comes
// back may come back under another id.
std::optional<AudioDeviceInfo> VoiceProcessingIO::current(const AudioDeviceInfo& device, AudioScope scope) {
  for (auto& candidate : AudioDevices::all(*host_)) {
    const int channels = scope == AudioScope::input ? candidate.inputChannels : candidate.outputChannels;
    if (candidate.uid == device.uid && channels > 0) return candidate;
  }
  return std::nullopt;
}

// What a device-list change must alter to concern this session: the two
// devices' presence and formats.
std::string VoiceProcessingIO::watchedState() {
  std::string state;
  for (const auto& [device, scope] : {std::pair{&inputDevice_, AudioScope::input}, {&outputDevice_, AudioScope::output}}) {
    const auto now = current(*device, scope);
    const auto format = now ? formatOf(now->id, scope) : std::nullopt;
    state += format ? fmt::format("{}:{}/{};", now->id, format->rate, format->channels) : std::string("-;");
  }
  return state;
}

// ---------------------------------------------------------------------------
// The canceller and the graph

std::expected<VoiceProcessingIO::Route, std::string> VoiceProcessingIO::loadCanceller(const AudioDeviceInfo& mic,
                                                                                      const AudioDeviceInfo& speaker) {
  auto loaded = cancelHost_->loadEchoCanceller(mic, speaker);
  if (!loaded) {
    return std::unexpected(fmt::format("the audio server's echo canceller could not be loaded between {} and {}: {}",
                                       mic.name, speaker.name, loaded.error().description()));
  }
  canceller_ = *loaded;
  return Route{loaded->input, loaded->output, mic.name, speaker.name};
}

void VoiceProcessingIO::unloadCanceller() {
  if (!canceller_) return;
  // A canceller whose master vanished is gone already; that is not worth a line.
  (void)cancelHost_->unloadEchoCanceller(*canceller_);
  canceller_.reset();
}

std::expected<void, std::string> VoiceProcessingIO::connectGraph(const Route& route) {
  const Format in = formatOf(route.capture, AudioScope::input).value_or(Format{});
  const Format out = formatOf(route.playback, AudioScope::output).value_or(Format{});
  if (in.rate <= 0 || in.channels == 0 || out.rate <= 0) {
    return std::unexpected(fmt::format("device format not ready (in {} Hz/{} ch, out {} Hz)", whole(in.rate),
                                       in.channels, whole(out.rate)));
  }
  route_ = route;
  inputResampler_ = LinearResampler(in.rate, sampleRate);
  outputResampler_ = LinearResampler(sampleRate, out.rate);
  pendingCount_ = 0;
  return {};
}

// ---------------------------------------------------------------------------
// Engine start and stop

std::expected<void, AudioIOError> VoiceProcessingIO::openStreams() {
  auto capture = host_->openStream(route_.capture, AudioScope::input,
                                   [this](std::span<AudioBuffer> buffers) { deliverInput(buffers); });
  if (!capture || !*capture) {
    return std::unexpected(AudioIOError::coreAudio("open capture stream (" + route_.captureName + ")",
                                                   capture ? 0 : capture.error()));
  }
  auto playback = host_->openStream(route_.playback, AudioScope::output,
                                    [this](std::span<AudioBuffer> buffers) { renderOutput(buffers); });
  if (!playback || !*playback) {
    return std::unexpected(AudioIOError::coreAudio("open playback stream (" + route_.playbackName + ")",
                                                   playback ? 0 : playback.error()));
  }
  inputResampler_.reset();
  outputResampler_.reset();
  pendingCount_ = 0;
  if (const auto status = (*playback)->start(); status != 0) {
    return std::unexpected(AudioIOError::coreAudio("start playback (" + route_.playbackName + ")", status));
  }
  if (const auto status = (*capture)->start(); status != 0) {
    (*playback)->stop();
    return std::unexpected(AudioIOError::coreAudio("start capture (" + route_.captureName + ")", status));
  }
  captureStream_ = std::move(*capture);
  playbackStream_ = std::move(*playback);
  return {};
}

std::expected<void, AudioIOError> VoiceProcessingIO::startEngine(int retries) {
  const int attempts = std::max(retries, 1);
  std::expected<void, AudioIOError> result;
  for (int attempt = 1; attempt <= attempts; ++attempt) {
    result = openStreams();
    if (result) return result;
    if (attempt < attempts) std::this_thread::sleep_for(options_.startRetryPause);
  }
  return result;
}

void VoiceProcessingIO::stopEngine() {
  if (captureStream_) captureStream_->stop();
  if (playbackStream_) playbackStream_->stop();
  captureStream_.reset();
  playbackStream_.reset();
}

std::expected<void, AudioIOError> VoiceProcessingIO::startEndpoint() {
  {
    std::lock_guard guard(stateMutex_);
    if (closed_) return std::unexpected(AudioIOError::coreAudio("start after close", -1));
  }
  ++activeEndpoints_;
  if (captureStream_) return {};
  return startEngine(1);
}

void VoiceProcessingIO::stopEndpoint() {
  activeEndpoints_ = std::max(activeEndpoints_ - 1, 0);
  if (activeEndpoints_ == 0) stopEngine();
}

VoiceProcessingIO::Input::Input(std::shared_ptr<VoiceProcessingIO> owner)
    : name_(owner->inputDevice_.name), owner_(std::move(owner)) {}

std::expected<void, AudioIOError> VoiceProcessingIO::Input::start() {
  return owner_->onQueue([this]() -> std::expected<void, AudioIOError> {
    if (started_) return {};
    started_ = true;
    return owner_->startEndpoint();
  });
}

void VoiceProcessingIO::Input::stop() {
  owner_->onQueue([this] {
    if (!started_) return;
    started_ = false;
    owner_->stopEndpoint();
  });
}

VoiceProcessingIO::Output::Output(std::shared_ptr<VoiceProcessingIO> owner)
    : name_(owner->outputDevice_.name), owner_(std::move(owner)) {}

std::expected<void, AudioIOError> VoiceProcessingIO::Output::start() {
  return owner_->onQueue([this]() -> std::expected<void, AudioIOError> {
    if (started_) return {};
    started_ = true;
    return owner_->startEndpoint();
  });
}

void VoiceProcessingIO::Output::stop() {
  owner_->onQueue([this] {
    if (!started_) return;
    started_ = false;
    owner_->stopEndpoint();
  });
}

// ---------------------------------------------------------------------------
// Reconfiguration

void VoiceProcessingIO::deviceListChanged() {
  const std::string now = watchedState();
  {
    std::lock_guard guard(stateMutex_);
    if (closed_ || now == lastWatched_) return;
    lastWatched_ = now;
  }
  scheduleConfigurationChange();
}

void VoiceProcessingIO::scheduleConfigurationChange() {
  const std::weak_ptr<VoiceProcessingIO> weak = weak_from_this();
  std::lock_guard guard(stateMutex_);
  if (closed_) return;
  configWork_ = engineQueue_->schedule(configurationDelay, [weak] {
    if (auto self = weak.lock()) self->applyConfigurationChange();
  });
}

void VoiceProcessingIO::applyConfigurationChange() {
  {
    std::lock_guard guard(stateMutex_);
    if (closed_) return;
  }
  const auto mic = current(inputDevice_, AudioScope::input);
  const auto speaker = current(outputDevice_, AudioScope::output);
  // A missing device reads as a zero format.
  const Format in = mic ? formatOf(mic->id, AudioScope::input).value_or(Format{}) : Format{};
  const Format out = speaker ? formatOf(speaker->id, AudioScope::output).value_or(Format{}) : Format{};
  Log::info([&] {
    return fmt::format("voice processing IO: devices reconfigured (in {} Hz/{} ch, out {} Hz); reconnecting",
                       whole(in.rate), in.channels, whole(out.rate));
  });
  if (!mic || !speaker || in.rate <= 0 || in.channels == 0 || out.rate <= 0) {
    Log::error([] { return std::string("voice processing IO: devices went away; audio paused until they return"); });
    stopEngine();
    unloadCanceller();
    retryConfigurationChange();
    return;
  }

  auto reconnected = reconnect(*mic, *speaker, echoOn_, 4);
  if (reconnected) {
    reconnectAttempts_ = 0;
    return;
  }
  if (echoOn_) {
    Log::warn([&] {
      return "voice processing IO: reconnect failed (" + reconnected.error() +
             "); retrying without echo cancellation";
    });
    echoOn_ = false;
    reconnected = reconnect(*mic, *speaker, false, 3);
    if (reconnected) {
      reconnectAttempts_ = 0;
      Log::warn([] {
        return std::string(
            "voice processing IO: echo cancellation off for this session — Stop and Start to turn it back on");
      });
      return;
    }
  }
  Log::error([&] { return "voice processing IO: could not reconnect after a configuration change: " + reconnected.error(); });
  retryConfigurationChange();
}

std::expected<void, std::string> VoiceProcessingIO::reconnect(const AudioDeviceInfo& mic,
                                                              const AudioDeviceInfo& speaker, bool withCanceller,
                                                              int retries) {
  stopEngine();
  unloadCanceller();
  Route route{mic.id, speaker.id, mic.name, speaker.name};
  if (withCanceller) {
    auto loaded = loadCanceller(mic, speaker);
    if (!loaded) return std::unexpected(Failure{Failure::Canceller{loaded.error()}}.description());
    route = *loaded;
  }
  if (auto connected = connectGraph(route); !connected) {
    return std::unexpected(Failure::format(connected.error()).description());
  }
  if (activeEndpoints_ > 0) {
    if (auto started = startEngine(retries); !started) return std::unexpected(started.error().description());
  }
  return {};
}

void VoiceProcessingIO::retryConfigurationChange() {
  const std::weak_ptr<VoiceProcessingIO> weak = weak_from_this();
  std::lock_guard guard(stateMutex_);
  if (closed_ || reconnectAttempts_ >= maxReconnectAttempts) return;
  const int attempt = ++reconnectAttempts_;
  Log::info([&] {
    return fmt::format("voice processing IO: retrying reconnect in {} s (attempt {} of {})", attempt, attempt,
                       maxReconnectAttempts);
  });
  configWork_ = engineQueue_->schedule(std::chrono::seconds(attempt), [weak] {
    if (auto self = weak.lock()) self->applyConfigurationChange();
  });
}

// ---------------------------------------------------------------------------
// Input volume

std::map<uint32_t, float> VoiceProcessingIO::readInputVolume(AudioDeviceID id) {
  std::map<uint32_t, float> volumes;
  const auto channels = cancelHost_->inputVolume(id);
  for (size_t c = 0; c < channels.size(); ++c) volumes.emplace(static_cast<uint32_t>(c), channels[c]);
  return volumes;
}

void VoiceProcessingIO::restoreInputVolume(std::vector<std::string>& notes) {
  if (savedInputVolume_.empty()) return;
  const auto mic = current(inputDevice_, AudioScope::input);
  if (!mic) return;
  auto now = cancelHost_->inputVolume(mic->id);
  std::vector<float> wanted = now;
  std::vector<std::pair<float, float>> changed;  // current, saved
  for (const auto& [channel, saved] : savedInputVolume_) {
    if (channel >= now.size() || std::fabs(now[channel] - saved) <= 0.01f) continue;
    wanted[channel] = saved;
    changed.emplace_back(now[channel], saved);
  }
  if (changed.empty()) return;
  if (const auto status = cancelHost_->setInputVolume(mic->id, wanted); status != 0) {
    Log::warn([&] { return fmt::format("voice processing IO: could not restore input volume (OSStatus {})", status); });
  }
  for (const auto& [was, saved] : changed) {
    notes.push_back(fmt::format("input volume restored {:.0f}% → {:.0f}%", double{was} * 100.0, double{saved} * 100.0));
  }
}

// ---------------------------------------------------------------------------
// Close

void VoiceProcessingIO::close() {
  {
    std::lock_guard guard(stateMutex_);
    if (closed_) return;
    closed_ = true;
    configWork_.cancel();
  }
  observer_.reset();
  onQueue([this] {
    stopEngine();
    unloadCanceller();
  });
  std::vector<std::string> notes{"voice processing off"};
  restoreInputVolume(notes);
  Log::info([&] { return fmt::format("voice processing IO: closed ({})", fmt::join(notes, "; ")); });
  // The streams are gone: the endpoints may now outlive the owner's hold on them.
  input_.reset();
  output_.reset();
}

// ---------------------------------------------------------------------------
// Real-time paths

void VoiceProcessingIO::deliverInput(std::span<AudioBuffer> buffers) {
  realtime::Section section;
  const auto* endpoint = input_.get();
  if (!endpoint || !endpoint->onFrames_ || buffers.empty()) return;
  const auto framesOf = [](const AudioBuffer& b) {
    return b.numberChannels == 0 ? int64_t{0} : static_cast<int64_t>(b.dataByteSize / (b.numberChannels * sizeof(float)));
  };
  float* mono = downmix_.get();
  int64_t n = 0;
  if (buffers.size() == 1) {
    const AudioBuffer& buffer = buffers.front();
    if (!buffer.data || buffer.numberChannels == 0) return;
    n = std::min(framesOf(buffer), maxCaptureFrames);
    const auto* samples = static_cast<const float*>(buffer.data);
    const size_t channels = buffer.numberChannels;
    if (channels == 1) {
      std::copy_n(samples, n, mono);
    } else {
      const float scale = 1.0f / static_cast<float>(channels);
      for (int64_t f = 0; f < n; ++f) {
        float sum = 0.0f;
        for (size_t c = 0; c < channels; ++c) sum += samples[static_cast<size_t>(f) * channels + c];
        mono[f] = sum * scale;
      }
    }
  } else {
    n = std::min(framesOf(buffers.front()), maxCaptureFrames);
    std::fill_n(mono, n, 0.0f);
    const float scale = 1.0f / static_cast<float>(buffers.size());
    for (const auto& buffer : buffers) {
      if (!buffer.data || buffer.numberChannels == 0) continue;
      const auto* samples = static_cast<const float*>(buffer.data);
      const int64_t frames = std::min(framesOf(buffer), n);
      for (int64_t f = 0; f < frames; ++f) mono[f] += samples[static_cast<size_t>(f) * buffer.numberChannels] * scale;
    }
  }
  if (n <= 0) return;
  const int64_t produced = inputResampler_.process(mono, n, converted_.get(), bufferCapacity);
  if (produced > 0) endpoint->onFrames_(std::span<const float>(converted_.get(), static_cast<size_t>(produced)));
}

void VoiceProcessingIO::renderOutput(std::span<AudioBuffer> buffers) {
  realtime::Section section;
  if (buffers.empty() || !buffers.front().data || buffers.front().numberChannels == 0) return;
  for (auto& buffer : buffers.subspan(1)) {
    if (buffer.data) std::memset(buffer.data, 0, buffer.dataByteSize);
  }
  AudioBuffer& first = buffers.front();
  const size_t channels = first.numberChannels;
  const int64_t n = first.dataByteSize / static_cast<int64_t>(channels * sizeof(float));
  auto* out = static_cast<float*>(first.data);
  const auto* endpoint = output_.get();
  if (!endpoint || !endpoint->render_) {
    std::memset(out, 0, first.dataByteSize);
    return;
  }
  const auto fanOut = [&](const float* mono, int64_t from, int64_t count) {
    for (int64_t f = 0; f < count; ++f) std::fill_n(out + (from + f) * static_cast<int64_t>(channels), channels, mono[f]);
  };

  if (outputResampler_.isIdentity()) {
    for (int64_t done = 0; done < n;) {
      const int64_t chunk = std::min(n - done, bufferCapacity);
      endpoint->render_(std::span<float>(pullBuffer_.get(), static_cast<size_t>(chunk)));
      fanOut(pullBuffer_.get(), done, chunk);
      done += chunk;
    }
    return;
  }
  while (pendingCount_ < n) {
    const int64_t most = outputResampler_.maxOutput(pullFrames);
    if (pendingCount_ + most > bufferCapacity) break;
    endpoint->render_(std::span<float>(pullBuffer_.get(), pullFrames));
    pendingCount_ += outputResampler_.process(pullBuffer_.get(), pullFrames, pending_.get() + pendingCount_,
                                              bufferCapacity - pendingCount_);
  }
  const int64_t k = std::min(n, pendingCount_);
  fanOut(pending_.get(), 0, k);
  std::fill(out + k * static_cast<int64_t>(channels), out + n * static_cast<int64_t>(channels), 0.0f);
  pendingCount_ -= k;
  std::memmove(pending_.get(), pending_.get() + k, static_cast<size_t>(pendingCount_) * sizeof(float));
}

}  // namespace oskel
