#include "audio/pulse/PulseDeviceMap.h"

#include <algorithm>
#include <array>
#include <set>
#include <utility>

#include "audio/AudioTransport.h"

namespace oskel::Pulse {
namespace {

bool isMonitor(const Node& source) { return source.monitorOfSink != invalidIndex; }

std::string moduleOf(const Node& node, const std::map<uint32_t, std::string>& modules) {
  auto it = modules.find(node.ownerModule);
  return it == modules.end() ? std::string() : it->second;
}

bool moduleIs(const std::string& module, std::string_view name) {
  // PipeWire's own modules carry a "libpipewire-" prefix.
  return module == name || module == "libpipewire-" + std::string(name);
}

bool isNullSink(const Node& sink, const std::map<uint32_t, std::string>& modules) {
  return moduleIs(moduleOf(sink, modules), "module-null-sink") ||
         sink.property("factory.name") == "support.null-audio-sink";
}

// The format a stream of the engine gets on this node: the server converts
// any PCM to interleaved float, but it cannot turn a compressed-only
// (pass-through) node into PCM.
AudioStreamFormat formatOf(const Node& node) {
  if (node.acceptsPCM) return AudioStreamFormat::float32(node.rate, node.channels);
  static constexpr std::array<uint32_t, 9> codes{
      0, 0, fourCC("ac-3"), fourCC("ec-3"), fourCC(".mp3"), fourCC("dts "),
      fourCC("aac "), fourCC("trhd"), fourCC("dtsh")};
  const uint32_t id = node.firstEncoding < codes.size() ? codes[node.firstEncoding] : node.firstEncoding;
  return AudioStreamFormat{static_cast<double>(node.rate), id, 0, 0, node.channels};
}

Side sideOf(const Node& node) {
  return Side{node.name, node.channels, node.channelMap, node.rate, formatOf(node)};
}

Device deviceOf(const Node& node, const std::map<uint32_t, std::string>& modules) {
  Device device;
  device.uid = node.name;
  if (!node.description.empty()) device.name = node.description;
  device.manufacturer = node.property("device.vendor.name");
  device.transportType = transportOf(node, modules);
  device.nominalSampleRate = node.rate;
  return device;
}

// The source that completes a sink into one duplex device, if any.
const Node* pairedSource(const Node& sink, const Snapshot& snapshot, const std::set<uint32_t>& taken) {
  for (const auto& source : snapshot.sources) {
    if (isMonitor(source) || taken.contains(source.index)) continue;
    if (!sink.monitorSource.empty() && source.property("device.master_device") == sink.monitorSource &&
        isNullSink(sink, snapshot.modules)) {
      return &source;
    }
  }
  if (sink.card == invalidIndex) return nullptr;
  const auto onCard = [&](const Node& n) { return n.card == sink.card; };
  if (std::ranges::count_if(snapshot.sinks, onCard) != 1) return nullptr;
  const Node* only = nullptr;
  for (const auto& source : snapshot.sources) {
    if (isMonitor(source) || !onCard(source)) continue;
    if (only) return nullptr;
    only = &source;
  }
  return only && !taken.contains(only->index) ? only : nullptr;
}

}  // namespace

uint32_t transportOf(const Node& node, const std::map<uint32_t, std::string>& modules) {
  const auto property = [&](const char* key) { return node.property(key).value_or(""); };
  const std::string bus = property("device.bus");
  const std::string api = property("device.api");
  const std::string module = moduleOf(node, modules);

  if (bus == "bluetooth" || api.starts_with("bluez")) {
    // LE Audio profiles are the BAP ones.
    return property("api.bluez5.profile").starts_with("bap") ? AudioTransport::bluetoothLE
                                                              : AudioTransport::bluetooth;
  }
  if (moduleIs(module, "module-combine-sink")) return AudioTransport::aggregate;
  if (moduleIs(module, "module-raop-sink") || api == "raop") return AudioTransport::airPlay;
  if (bus == "usb") return AudioTransport::usb;
  if (bus == "firewire" || bus == "ieee1394") return AudioTransport::fireWire;
  if (bus == "thunderbolt") return AudioTransport::thunderbolt;
  if (bus == "pci" || bus == "platform" || bus == "isa" || property("device.form_factor") == "internal") {
    const std::string profile = property("device.profile.name");
    if (profile.starts_with("hdmi")) return AudioTransport::hdmi;
    return AudioTransport::builtIn;
  }
  const std::string deviceClass = property("device.class");
  if (deviceClass == "abstract" || deviceClass == "filter" || property("node.virtual") == "true" ||
      isNullSink(node, modules)) {
    return AudioTransport::virtualDevice;
  }
  if (!node.hardware && bus.empty() && api.empty()) return AudioTransport::virtualDevice;
  return AudioTransport::unknown;
}

std::vector<Device> mapDevices(const Snapshot& snapshot) {
  std::vector<Device> devices;
  std::set<uint32_t> taken;
  for (const auto& sink : snapshot.sinks) {
    Device device = deviceOf(sink, snapshot.modules);
    device.output = sideOf(sink);
    if (const Node* source = pairedSource(sink, snapshot, taken)) {
      taken.insert(source->index);
      device.input = sideOf(*source);
    }
    devices.push_back(std::move(device));
  }
  for (const auto& source : snapshot.sources) {
    if (isMonitor(source) || taken.contains(source.index)) continue;
    Device device = deviceOf(source, snapshot.modules);
    device.input = sideOf(source);
    devices.push_back(std::move(device));
  }
  return devices;
}

}  // namespace oskel::Pulse
