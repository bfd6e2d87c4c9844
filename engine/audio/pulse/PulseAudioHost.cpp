#include "audio/pulse/PulseAudioHost.h"

#include <pulse/def.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <chrono>
#include <thread>

#include <unistd.h>

#include <fmt/format.h>

#include "audio/pulse/PulseCore.h"
#include "audio/pulse/PulseDeviceMap.h"
#include "audio/pulse/PulseEchoCancel.h"
#include "audio/pulse/PulseLoopbackModules.h"
#include "audio/pulse/PulseStream.h"

namespace oskel {
namespace {

using Pulse::Device;

const Device* findByUID(const std::vector<Device>& devices, const std::string& uid) {
  auto it = std::ranges::find(devices, uid, &Device::uid);
  return it == devices.end() ? nullptr : &*it;
}

const Pulse::Node* findNode(const std::vector<Pulse::Node>& nodes, const std::string& name) {
  auto it = std::ranges::find(nodes, name, &Pulse::Node::name);
  return it == nodes.end() ? nullptr : &*it;
}

// A session manager may make a new device the default on its own, a moment
// after it appears; watch for a little while and put the user's back.
constexpr int settleChecks = 6;
constexpr auto settleInterval = std::chrono::milliseconds(50);

}  // namespace

PulseAudioHost::PulseAudioHost(std::shared_ptr<Pulse::Core> core) : core_(std::move(core)) {}
PulseAudioHost::~PulseAudioHost() = default;

std::expected<std::shared_ptr<PulseAudioHost>, AudioHostError> PulseAudioHost::connect(Options options) {
  auto core = Pulse::Core::connect(std::move(options));
  if (!core) return std::unexpected(core.error());
  return std::make_shared<PulseAudioHost>(std::move(*core));
}

std::expected<std::shared_ptr<PulseAudioHost>, AudioHostError> PulseAudioHost::connect() {
  return connect(Options{});
}

std::string PulseAudioHost::serverDescription() { return core_->serverDescription(); }

bool PulseAudioHost::connected() {
  Pulse::Core::Lock lock(*core_);
  return core_->ready();
}

namespace {

std::vector<Device> mapped(Pulse::Core& core) {
  auto snapshot = core.snapshot();
  return snapshot ? Pulse::mapDevices(*snapshot) : std::vector<Device>{};
}

std::optional<Device> lookup(Pulse::Core& core, AudioDeviceID id) {
  const auto uid = core.uidFor(id);
  if (!uid) return std::nullopt;
  const auto devices = mapped(core);
  const auto* device = findByUID(devices, *uid);
  return device ? std::optional(*device) : std::nullopt;
}

AudioHostDevice toHost(Pulse::Core& core, const Device& device) {
  return AudioHostDevice{
      .id = core.idFor(device.uid),
      .name = device.name,
      .uid = device.uid,
      .manufacturer = device.manufacturer,
      .inputChannels = device.input ? static_cast<int>(device.input->channels) : 0,
      .outputChannels = device.output ? static_cast<int>(device.output->channels) : 0,
      .nominalSampleRate = device.nominalSampleRate,
      .transportType = device.transportType,
  };
}

const std::optional<Pulse::Side>& sideOf(const Device& device, AudioScope scope) {
  return scope == AudioScope::input ? device.input : device.output;
}

}  // namespace

std::vector<AudioHostDevice> PulseAudioHost::devices() {
  std::vector<AudioHostDevice> result;
  for (const auto& device : mapped(*core_)) result.push_back(toHost(*core_, device));
  return result;
}

std::optional<AudioHostDevice> PulseAudioHost::device(AudioDeviceID id) {
  const auto device = lookup(*core_, id);
  if (!device) return std::nullopt;
  return toHost(*core_, *device);
}

std::optional<AudioDeviceID> PulseAudioHost::defaultDevice(AudioScope scope) {
  const auto snapshot = core_->snapshot();
  if (!snapshot) return std::nullopt;
  const auto& node = scope == AudioScope::input ? snapshot->defaultSource : snapshot->defaultSink;
  for (const auto& device : Pulse::mapDevices(*snapshot)) {
    const auto& side = sideOf(device, scope);
    if (side && side->node == node) return core_->idFor(device.uid);
  }
  return std::nullopt;
}

std::optional<AudioStreamFormat> PulseAudioHost::streamFormat(AudioDeviceID id, AudioScope scope) {
  const auto device = lookup(*core_, id);
  if (!device) return std::nullopt;
  const auto& side = sideOf(*device, scope);
  return side ? std::optional(side->format) : std::nullopt;
}

std::optional<double> PulseAudioHost::nominalSampleRate(AudioDeviceID id, AudioScope scope) {
  const auto device = lookup(*core_, id);
  if (!device) return std::nullopt;
  const auto& side = sideOf(*device, scope);
  return side ? std::optional<double>(side->rate) : std::nullopt;
}

std::unique_ptr<AudioHostListener> PulseAudioHost::listen(AudioHostProperty property, AudioDeviceID id,
                                                          Listener listener) {
  if (property == AudioHostProperty::nominalSampleRate) return nullptr;
  return core_->listeners().add(property, id, std::move(listener));
}

std::expected<std::unique_ptr<AudioHostStream>, AudioHostStatus> PulseAudioHost::openStream(AudioDeviceID id,
                                                                                            AudioScope scope,
                                                                                            IOHandler handler) {
  const auto device = lookup(*core_, id);
  if (!device) return std::unexpected(PA_ERR_NOENTITY);
  const auto& side = sideOf(*device, scope);
  if (!side) return std::unexpected(PA_ERR_NOENTITY);
  if (side->format.formatID != AudioStreamFormat::linearPCM) return std::unexpected(PA_ERR_NOTSUPPORTED);
  return std::make_unique<Pulse::Stream>(core_, *side, scope, std::move(handler));
}

std::expected<bool, AudioHostError> PulseAudioHost::installLoopbackDevice(const LoopbackDeviceSpec& spec) {
  namespace Modules = Pulse::LoopbackModules;
  const auto sinkArguments = Modules::nullSinkArguments(spec);
  if (!sinkArguments) return std::unexpected(sinkArguments.error());
  const auto sourceArguments = Modules::remapSourceArguments(spec);
  if (!sourceArguments) return std::unexpected(sourceArguments.error());

  const auto before = core_->snapshot();
  if (!before) return std::unexpected(AudioHostError{"cannot read the audio server's devices"});
  const bool hasSink = findNode(before->sinks, spec.uid) != nullptr;
  const bool hasSource = findNode(before->sources, Modules::sourceName(spec.uid)) != nullptr;
  if (hasSink && hasSource) return false;

  std::optional<uint32_t> createdSink;
  if (!hasSink) {
    auto index = core_->loadModule("module-null-sink", *sinkArguments);
    if (!index) {
      return std::unexpected(AudioHostError{
          fmt::format("cannot create the output of {} (module-null-sink): {}", spec.name, index.error())});
    }
    createdSink = *index;
  }
  if (!hasSource) {
    auto index = core_->loadModule("module-remap-source", *sourceArguments);
    if (!index) {
      if (createdSink) (void)core_->unloadModule(*createdSink);
      return std::unexpected(AudioHostError{
          fmt::format("cannot create the input of {} (module-remap-source): {}", spec.name, index.error())});
    }
  }

  for (int check = 0; check < settleChecks; ++check) {
    if (check > 0) std::this_thread::sleep_for(settleInterval);
    const auto now = core_->snapshot();
    if (!now) break;
    if (now->defaultSink != before->defaultSink && findNode(now->sinks, before->defaultSink)) {
      (void)core_->setDefault(AudioScope::output, before->defaultSink);
    }
    if (now->defaultSource != before->defaultSource && findNode(now->sources, before->defaultSource)) {
      (void)core_->setDefault(AudioScope::input, before->defaultSource);
    }
  }
  return true;
}

std::expected<bool, AudioHostError> PulseAudioHost::removeLoopbackDevice(std::string_view uid) {
  const std::string sinkName(uid);
  const auto snapshot = core_->snapshot();
  if (!snapshot) return std::unexpected(AudioHostError{"cannot read the audio server's devices"});
  const auto* source = findNode(snapshot->sources, Pulse::LoopbackModules::sourceName(sinkName));
  const auto* sink = findNode(snapshot->sinks, sinkName);
  if (!sink && !source) return false;

  // The source first: it records the sink's monitor.
  std::vector<uint32_t> modules;
  for (const auto* node : {source, sink}) {
    if (!node) continue;
    if (node->ownerModule == Pulse::invalidIndex) {
      return std::unexpected(AudioHostError{
          fmt::format("cannot remove {}: the audio server did not create it from a module", node->name)});
    }
    if (std::ranges::find(modules, node->ownerModule) == modules.end()) modules.push_back(node->ownerModule);
  }
  for (auto module : modules) {
    if (auto unloaded = core_->unloadModule(module); !unloaded) {
      return std::unexpected(
          AudioHostError{fmt::format("cannot remove {} (module {}): {}", sinkName, module, unloaded.error())});
    }
  }
  return true;
}

namespace {

// PipeWire's pulse server calls itself "PulseAudio (on PipeWire …)".
Pulse::EchoCancel::Server serverKind(Pulse::Core& core) {
  return core.serverDescription().find("PipeWire") != std::string::npos ? Pulse::EchoCancel::Server::pipeWire
                                                                         : Pulse::EchoCancel::Server::pulseAudio;
}

// PipeWire creates a module's nodes a moment after the load returns.
constexpr int appearChecks = 100;
constexpr auto appearInterval = std::chrono::milliseconds(20);

std::atomic<uint32_t> cancellerSequence{0};

}  // namespace

std::expected<EchoCanceller, AudioHostError> PulseAudioHost::loadEchoCanceller(const AudioDeviceInfo& microphone,
                                                                               const AudioDeviceInfo& speaker) {
  const auto mic = lookup(*core_, microphone.id);
  const auto out = lookup(*core_, speaker.id);
  if (!mic || !mic->input) return std::unexpected(AudioHostError{microphone.name + " is not an input of the audio server"});
  if (!out || !out->output) return std::unexpected(AudioHostError{speaker.name + " is not an output of the audio server"});
  const auto names = Pulse::EchoCancel::namesFor(static_cast<int>(::getpid()), cancellerSequence++);
  const auto arguments = Pulse::EchoCancel::arguments(serverKind(*core_), mic->input->node, out->output->node, names);
  if (!arguments) return std::unexpected(arguments.error());
  const auto module = core_->loadModule("module-echo-cancel", *arguments);
  if (!module) return std::unexpected(AudioHostError{"module-echo-cancel: " + module.error()});

  for (int check = 0; check < appearChecks; ++check) {
    if (check > 0) std::this_thread::sleep_for(appearInterval);
    const auto now = core_->snapshot();
    if (!now) break;
    if (findNode(now->sources, names.source) && findNode(now->sinks, names.sink)) {
      return EchoCanceller{core_->idFor(names.source), core_->idFor(names.sink), *module};
    }
  }
  (void)core_->unloadModule(*module);
  return std::unexpected(AudioHostError{"module-echo-cancel loaded but its devices did not appear"});
}

std::expected<void, AudioHostError> PulseAudioHost::unloadEchoCanceller(const EchoCanceller& canceller) {
  if (auto unloaded = core_->unloadModule(canceller.module); !unloaded) {
    return std::unexpected(
        AudioHostError{fmt::format("cannot unload the echo canceller (module {}): {}", canceller.module, unloaded.error())});
  }
  return {};
}

int PulseAudioHost::unloadStaleEchoCancellers() {
  const auto snapshot = core_->snapshot();
  if (!snapshot) return 0;
  const auto alive = [](int pid) { return ::kill(pid, 0) == 0 || errno == EPERM; };
  int unloaded = 0;
  for (auto module : Pulse::EchoCancel::staleModules(*snapshot, static_cast<int>(::getpid()), alive)) {
    if (core_->unloadModule(module)) ++unloaded;
  }
  return unloaded;
}

std::vector<float> PulseAudioHost::inputVolume(AudioDeviceID id) {
  const auto device = lookup(*core_, id);
  const auto snapshot = core_->snapshot();
  if (!device || !device->input || !snapshot) return {};
  const auto* node = findNode(snapshot->sources, device->input->node);
  return node ? node->volume : std::vector<float>{};
}

AudioHostStatus PulseAudioHost::setInputVolume(AudioDeviceID id, std::span<const float> volume) {
  const auto device = lookup(*core_, id);
  if (!device || !device->input) return PA_ERR_NOENTITY;
  return core_->setSourceVolume(device->input->node, volume) ? 0 : core_->lastError();
}

}  // namespace oskel
