#include "audio/sim/SimulatedAudioHost.h"

#include <algorithm>
#include <map>

#include "audio/AudioTransport.h"

namespace oskel {
namespace {

constexpr uint32_t preallocatedFrames = 32768;
constexpr size_t queueCapacity = size_t{1} << 20;

uint32_t channelsOf(const std::vector<uint32_t>& streams) {
  uint32_t total = 0;
  for (auto c : streams) total += c;
  return total;
}

}  // namespace

struct SimulatedAudioHost::State {
  struct DeviceState {
    Device spec;
    bool present = true;
    std::vector<float> inputQueue;  // interleaved frames of the first input stream
    size_t inputRead = 0;
    std::vector<std::vector<float>> cycleOutput;  // per output buffer, last cycle
  };

  mutable std::mutex mutex;  // guards everything below; held for a whole IO cycle
  std::map<AudioDeviceID, DeviceState> devices;
  AudioDeviceID nextID = 1;
  std::optional<AudioDeviceID> defaultInput;
  std::optional<AudioDeviceID> defaultOutput;
  std::optional<AudioHostStatus> openFailure;
  std::optional<AudioHostStatus> startFailure;
  std::vector<Stream*> streams;  // open streams, in opening order
  std::vector<EchoCanceller> cancellers;
  uint32_t cancellerLoads = 0;
  std::string cancellerFailure;
  int cancellerFailures = 0;

  DeviceState* find(AudioDeviceID id) {
    auto it = devices.find(id);
    return it == devices.end() || !it->second.present ? nullptr : &it->second;
  }
};

class SimulatedAudioHost::Stream final : public AudioHostStream {
 public:
  Stream(std::shared_ptr<State> state, AudioDeviceID device, AudioScope scope,
         std::vector<uint32_t> layout, IOHandler handler)
      : state_(std::move(state)), device_(device), scope_(scope), layout_(std::move(layout)),
        handler_(std::move(handler)) {
    for (auto channels : layout_) storage_.emplace_back(size_t{preallocatedFrames} * channels);
    buffers_.resize(layout_.size());
    std::lock_guard guard(state_->mutex);
    state_->streams.push_back(this);
  }

  ~Stream() override {
    std::lock_guard guard(state_->mutex);
    std::erase(state_->streams, this);
  }

  AudioHostStatus start() override {
    std::lock_guard guard(state_->mutex);
    if (state_->startFailure) {
      const auto status = *state_->startFailure;
      state_->startFailure.reset();
      return status;
    }
    if (!state_->find(device_)) return badDevice;
    running_ = true;
    return 0;
  }

  void stop() override {
    std::lock_guard guard(state_->mutex);
    running_ = false;
  }

  // Runs under the state's mutex.
  void cycle(State::DeviceState& device, uint32_t frames) {
    for (size_t b = 0; b < layout_.size(); ++b) {
      auto& memory = storage_[b];
      const size_t samples = size_t{frames} * layout_[b];
      if (memory.size() < samples) memory.resize(samples);
      buffers_[b] = {layout_[b], static_cast<uint32_t>(samples * sizeof(float)), memory.data()};
    }
    if (scope_ == AudioScope::input) {
      fillInput(device, frames);
      handler_(buffers_);
    } else {
      for (size_t b = 0; b < layout_.size(); ++b) {
        std::fill_n(storage_[b].data(), size_t{frames} * layout_[b], staleSample);
      }
      handler_(buffers_);
      mixInto(device, frames);
    }
  }

  AudioDeviceID device() const { return device_; }
  AudioScope scope() const { return scope_; }
  bool running() const { return running_; }

 private:
  void fillInput(State::DeviceState& device, uint32_t frames) {
    for (size_t b = 0; b < layout_.size(); ++b) std::fill_n(storage_[b].data(), size_t{frames} * layout_[b], 0.0f);
    if (layout_.empty()) return;
    const size_t wanted = size_t{frames} * layout_[0];
    const size_t available = device.inputQueue.size() - device.inputRead;
    const size_t n = std::min(wanted, available);
    std::copy_n(device.inputQueue.begin() + static_cast<std::ptrdiff_t>(device.inputRead), n,
                storage_[0].begin());
    device.inputRead += n;
  }

  void mixInto(State::DeviceState& device, uint32_t frames) {
    for (size_t b = 0; b < layout_.size() && b < device.cycleOutput.size(); ++b) {
      auto& out = device.cycleOutput[b];
      const size_t samples = size_t{frames} * layout_[b];
      for (size_t i = 0; i < samples && i < out.size(); ++i) out[i] += storage_[b][i];
    }
  }

  std::shared_ptr<State> state_;
  AudioDeviceID device_;
  AudioScope scope_;
  std::vector<uint32_t> layout_;
  IOHandler handler_;
  std::vector<std::vector<float>> storage_;
  std::vector<AudioBuffer> buffers_;
  bool running_ = false;  // guarded by the state's mutex
};

SimulatedAudioHost::SimulatedAudioHost()
    : state_(std::make_shared<State>()), listeners_(ListenerRegistry::make()) {}

SimulatedAudioHost::~SimulatedAudioHost() = default;

std::shared_ptr<SimulatedAudioHost> SimulatedAudioHost::make() {
  return std::shared_ptr<SimulatedAudioHost>(new SimulatedAudioHost());
}

AudioDeviceID SimulatedAudioHost::add(Device device) {
  AudioDeviceID id = 0;
  {
    std::lock_guard guard(state_->mutex);
    id = state_->nextID++;
    State::DeviceState entry;
    entry.inputQueue.reserve(queueCapacity);
    for (auto channels : device.outputStreams) {
      entry.cycleOutput.emplace_back();
      entry.cycleOutput.back().reserve(size_t{preallocatedFrames} * channels);
    }
    entry.spec = std::move(device);
    state_->devices.emplace(id, std::move(entry));
  }
  listeners_->notify(AudioHostProperty::devices);
  return id;
}

void SimulatedAudioHost::remove(AudioDeviceID id) {
  bool wasInput = false;
  bool wasOutput = false;
  {
    std::lock_guard guard(state_->mutex);
    auto* device = state_->find(id);
    if (!device) return;
    device->present = false;
    std::erase_if(state_->cancellers, [id](const EchoCanceller& c) { return c.input == id || c.output == id; });
    if (state_->defaultInput == id) {
      state_->defaultInput.reset();
      wasInput = true;
    }
    if (state_->defaultOutput == id) {
      state_->defaultOutput.reset();
      wasOutput = true;
    }
  }
  listeners_->notify(AudioHostProperty::devices);
  if (wasInput) listeners_->notify(AudioHostProperty::defaultInput);
  if (wasOutput) listeners_->notify(AudioHostProperty::defaultOutput);
}

void SimulatedAudioHost::setNominalRate(AudioDeviceID id, double rate) {
  {
    std::lock_guard guard(state_->mutex);
    auto* device = state_->find(id);
    if (!device) return;
    device->spec.nominalSampleRate = rate;
  }
  listeners_->notify(AudioHostProperty::nominalSampleRate, id);
}

void SimulatedAudioHost::setDefault(AudioScope scope, std::optional<AudioDeviceID> id) {
  {
    std::lock_guard guard(state_->mutex);
    (scope == AudioScope::input ? state_->defaultInput : state_->defaultOutput) = id;
  }
  listeners_->notify(scope == AudioScope::input ? AudioHostProperty::defaultInput
                                                : AudioHostProperty::defaultOutput);
}

void SimulatedAudioHost::failNextOpen(AudioHostStatus status) {
  std::lock_guard guard(state_->mutex);
  state_->openFailure = status;
}

void SimulatedAudioHost::failNextStart(AudioHostStatus status) {
  std::lock_guard guard(state_->mutex);
  state_->startFailure = status;
}

void SimulatedAudioHost::feedInput(AudioDeviceID id, std::span<const float> interleaved) {
  std::lock_guard guard(state_->mutex);
  if (auto* device = state_->find(id)) {
    auto& queue = device->inputQueue;
    queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(device->inputRead));
    device->inputRead = 0;
    queue.insert(queue.end(), interleaved.begin(), interleaved.end());
  }
}

void SimulatedAudioHost::step(uint32_t frames) {
  std::lock_guard guard(state_->mutex);
  for (auto& [id, device] : state_->devices) {
    if (!device.present) continue;
    for (size_t b = 0; b < device.cycleOutput.size(); ++b) {
      device.cycleOutput[b].assign(size_t{frames} * device.spec.outputStreams[b], 0.0f);
    }
  }
  for (auto scope : {AudioScope::output, AudioScope::input}) {
    for (auto* stream : state_->streams) {
      if (stream->scope() != scope || !stream->running()) continue;
      if (auto* device = state_->find(stream->device())) stream->cycle(*device, frames);
    }
    if (scope != AudioScope::output) continue;
    // Loopback devices hand this cycle's output to their input, keeping the
    // queue's storage so that no cycle allocates.
    for (auto& [id, device] : state_->devices) {
      if (!device.present || !device.spec.loopback || device.cycleOutput.empty()) continue;
      auto& queue = device.inputQueue;
      const auto& played = device.cycleOutput.front();
      if (queue.size() + played.size() > queue.capacity()) {
        queue.erase(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(device.inputRead));
        device.inputRead = 0;
      }
      if (queue.size() + played.size() <= queue.capacity()) queue.insert(queue.end(), played.begin(), played.end());
    }
  }
}

std::vector<float> SimulatedAudioHost::lastOutput(AudioDeviceID id, size_t index) const {
  std::lock_guard guard(state_->mutex);
  auto it = state_->devices.find(id);
  if (it == state_->devices.end() || index >= it->second.cycleOutput.size()) return {};
  return it->second.cycleOutput[index];
}

size_t SimulatedAudioHost::openStreams(AudioDeviceID id) const {
  std::lock_guard guard(state_->mutex);
  return static_cast<size_t>(std::ranges::count_if(state_->streams, [&](auto* s) { return s->device() == id; }));
}

size_t SimulatedAudioHost::runningStreams(AudioDeviceID id) const {
  std::lock_guard guard(state_->mutex);
  return static_cast<size_t>(
      std::ranges::count_if(state_->streams, [&](auto* s) { return s->device() == id && s->running(); }));
}

std::vector<AudioHostDevice> SimulatedAudioHost::devices() {
  std::vector<AudioHostDevice> result;
  std::vector<AudioDeviceID> ids;
  {
    std::lock_guard guard(state_->mutex);
    for (const auto& [id, device] : state_->devices) {
      if (device.present) ids.push_back(id);
    }
  }
  for (auto id : ids) {
    if (auto d = device(id)) result.push_back(std::move(*d));
  }
  return result;
}

std::optional<AudioHostDevice> SimulatedAudioHost::device(AudioDeviceID id) {
  std::lock_guard guard(state_->mutex);
  const auto* device = state_->find(id);
  if (!device) return std::nullopt;
  const auto& spec = device->spec;
  return AudioHostDevice{
      .id = id,
      .name = spec.name,
      .uid = spec.uid,
      .manufacturer = spec.manufacturer,
      .inputChannels = static_cast<int>(channelsOf(spec.inputStreams)),
      .outputChannels = static_cast<int>(channelsOf(spec.outputStreams)),
      .nominalSampleRate = spec.nominalSampleRate,
      .transportType = spec.transportType,
  };
}

std::optional<AudioDeviceID> SimulatedAudioHost::defaultDevice(AudioScope scope) {
  std::lock_guard guard(state_->mutex);
  return scope == AudioScope::input ? state_->defaultInput : state_->defaultOutput;
}

std::optional<AudioStreamFormat> SimulatedAudioHost::streamFormat(AudioDeviceID id, AudioScope scope) {
  std::lock_guard guard(state_->mutex);
  const auto* device = state_->find(id);
  if (!device) return std::nullopt;
  const auto& spec = device->spec;
  const auto& streams = scope == AudioScope::input ? spec.inputStreams : spec.outputStreams;
  if (streams.empty()) return std::nullopt;
  const auto& override = scope == AudioScope::input ? spec.inputFormat : spec.outputFormat;
  if (override) return override;
  return AudioStreamFormat::float32(spec.nominalSampleRate.value_or(0.0), streams.front());
}

std::optional<double> SimulatedAudioHost::nominalSampleRate(AudioDeviceID id, AudioScope) {
  std::lock_guard guard(state_->mutex);
  const auto* device = state_->find(id);
  return device ? device->spec.nominalSampleRate : std::nullopt;
}

std::unique_ptr<AudioHostListener> SimulatedAudioHost::listen(AudioHostProperty property, AudioDeviceID id,
                                                              Listener listener) {
  return listeners_->add(property, id, std::move(listener));
}

std::expected<std::unique_ptr<AudioHostStream>, AudioHostStatus> SimulatedAudioHost::openStream(
    AudioDeviceID id, AudioScope scope, IOHandler handler) {
  std::vector<uint32_t> layout;
  {
    std::lock_guard guard(state_->mutex);
    if (state_->openFailure) {
      const auto status = *state_->openFailure;
      state_->openFailure.reset();
      return std::unexpected(status);
    }
    const auto* device = state_->find(id);
    if (!device) return std::unexpected(badDevice);
    layout = scope == AudioScope::input ? device->spec.inputStreams : device->spec.outputStreams;
    if (layout.empty()) return std::unexpected(badDevice);
  }
  return std::make_unique<Stream>(state_, id, scope, std::move(layout), std::move(handler));
}

std::expected<bool, AudioHostError> SimulatedAudioHost::installLoopbackDevice(const LoopbackDeviceSpec& spec) {
  {
    std::lock_guard guard(state_->mutex);
    for (const auto& [id, device] : state_->devices) {
      if (device.present && device.spec.uid == spec.uid) return false;
    }
  }
  Device device;
  device.name = spec.name;
  device.uid = spec.uid;
  device.manufacturer = "Oskel";
  device.transportType = AudioTransport::virtualDevice;
  device.nominalSampleRate = 48000.0;
  device.inputStreams = {2};
  device.outputStreams = {2};
  device.loopback = true;
  add(std::move(device));
  return true;
}

std::expected<bool, AudioHostError> SimulatedAudioHost::removeLoopbackDevice(std::string_view uid) {
  std::optional<AudioDeviceID> found;
  {
    std::lock_guard guard(state_->mutex);
    for (const auto& [id, device] : state_->devices) {
      if (device.present && device.spec.uid == uid) found = id;
    }
  }
  if (!found) return false;
  remove(*found);
  return true;
}

void SimulatedAudioHost::failCancellerLoads(std::string message, int count) {
  std::lock_guard guard(state_->mutex);
  state_->cancellerFailure = std::move(message);
  state_->cancellerFailures = count;
}

size_t SimulatedAudioHost::loadedCancellers() const {
  std::lock_guard guard(state_->mutex);
  return state_->cancellers.size();
}

size_t SimulatedAudioHost::cancellerLoads() const {
  std::lock_guard guard(state_->mutex);
  return state_->cancellerLoads;
}

std::expected<EchoCanceller, AudioHostError> SimulatedAudioHost::loadEchoCanceller(const AudioDeviceInfo& microphone,
                                                                                   const AudioDeviceInfo& speaker) {
  std::lock_guard guard(state_->mutex);
  if (state_->cancellerFailures > 0) {
    --state_->cancellerFailures;
    return std::unexpected(AudioHostError{state_->cancellerFailure});
  }
  if (!state_->find(microphone.id) || !state_->find(speaker.id)) return std::unexpected(AudioHostError{"no such device"});
  const EchoCanceller canceller{microphone.id, speaker.id, ++state_->cancellerLoads};
  state_->cancellers.push_back(canceller);
  return canceller;
}

std::expected<void, AudioHostError> SimulatedAudioHost::unloadEchoCanceller(const EchoCanceller& canceller) {
  std::lock_guard guard(state_->mutex);
  if (std::erase_if(state_->cancellers, [&](const EchoCanceller& c) { return c.module == canceller.module; }) == 0) {
    return std::unexpected(AudioHostError{"no such module"});
  }
  return {};
}

std::vector<float> SimulatedAudioHost::inputVolume(AudioDeviceID id) {
  std::lock_guard guard(state_->mutex);
  const auto* device = state_->find(id);
  return device ? device->spec.inputVolume : std::vector<float>{};
}

AudioHostStatus SimulatedAudioHost::setInputVolume(AudioDeviceID id, std::span<const float> volume) {
  std::lock_guard guard(state_->mutex);
  auto* device = state_->find(id);
  if (!device || device->spec.inputVolume.size() != volume.size()) return badDevice;
  device->spec.inputVolume.assign(volume.begin(), volume.end());
  return 0;
}

}  // namespace oskel
