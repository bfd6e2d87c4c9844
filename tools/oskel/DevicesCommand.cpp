#include "DevicesCommand.h"

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <fmt/ranges.h>

#include "audio/AudioDevices.h"
#include "audio/FourCC.h"
#include "audio/LoopbackDevices.h"
#include "audio/pulse/PulseAudioHost.h"
#include "audio/pulse/PulseLoopbackPersistence.h"

namespace oskel {
namespace {

std::string transportText(uint32_t transport) { return transport == 0 ? "-" : fourCCText(transport); }

// Columns line up by characters, not bytes, for names such as "Écouteurs".
size_t characters(const std::string& text) {
  return static_cast<size_t>(std::ranges::count_if(text, [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string rateText(double rate) { return rate > 0 ? fmt::format("{:.0f}", rate) : "-"; }

std::string notes(const AudioDeviceInfo& device, const std::optional<AudioDeviceInfo>& input,
                  const std::optional<AudioDeviceInfo>& output) {
  std::vector<std::string> notes;
  if (input && input->id == device.id) notes.emplace_back("default input");
  if (output && output->id == device.id) notes.emplace_back("default output");
  if (device.isOskel()) notes.emplace_back("oskel");
  if (device.isBluetooth()) notes.emplace_back("bluetooth");
  if (device.isVirtual()) notes.emplace_back("virtual");
  return fmt::format("{}", fmt::join(notes, ", "));
}

void list(AudioHost& host, std::ostream& out) {
  const auto devices = AudioDevices::all(host);
  if (devices.empty()) {
    fmt::print(out, "No audio devices.\n");
    return;
  }
  const auto input = AudioDevices::defaultInput(host);
  const auto output = AudioDevices::defaultOutput(host);
  size_t uidWidth = 3;
  size_t nameWidth = 4;
  for (const auto& device : devices) {
    uidWidth = std::max(uidWidth, characters(device.uid));
    nameWidth = std::max(nameWidth, characters(device.name));
  }
  const auto row = [&](const auto& uid, const auto& name, const auto& in, const auto& outs, const auto& rate,
                       const auto& transport, const auto& note) {
    std::string line = fmt::format("{:<{}}  {:<{}}  {:>3}  {:>3}  {:>6}  {:<9}  {}", uid, uidWidth, name, nameWidth,
                                   in, outs, rate, transport, note);
    line.erase(line.find_last_not_of(' ') + 1);
    fmt::print(out, "{}\n", line);
  };
  row("UID", "Name", "In", "Out", "Rate", "Transport", "Notes");
  for (const auto& device : devices) {
    row(device.uid, device.name, device.inputChannels, device.outputChannels, rateText(device.nominalSampleRate),
        transportText(device.transportType), notes(device, input, output));
  }
}

}  // namespace

int runDevicesCommand(const DevicesCommandOptions& options, AudioHost& host, LoopbackHost& loopback,
                      std::ostream& out, std::ostream& err) {
  if (options.installLoopback && options.removeLoopback) {
    fmt::print(err, "choose one of --install-loopback and --remove-loopback\n");
    return 2;
  }
  if (options.persist && !options.installLoopback) {
    fmt::print(err, "--persist goes with --install-loopback\n");
    return 2;
  }
  if (options.installLoopback || options.removeLoopback) {
    const auto change = options.installLoopback ? LoopbackDevices::install(loopback) : LoopbackDevices::remove(loopback);
    if (!change) {
      fmt::print(err, "{}\n", change.error().description());
      return 1;
    }
    const char* done = options.installLoopback ? "Installed" : "Removed";
    const char* nothing = options.installLoopback ? "The loopback devices are already installed."
                                                  : "No loopback devices to remove.";
    if (change->changed.empty()) {
      fmt::print(out, "{}\n", nothing);
    } else {
      fmt::print(out, "{} {}.\n", done, fmt::join(change->changed, " and "));
    }
    if ((options.persist || options.removeLoopback) && !options.configRoot.empty()) {
      namespace Persistence = Pulse::LoopbackPersistence;
      const auto files =
          options.persist ? Persistence::write(options.configRoot) : Persistence::remove(options.configRoot);
      if (!files) {
        fmt::print(err, "{}\n", files.error().description());
        return 1;
      }
      for (const auto& file : *files)
        fmt::print(out, "{} {}\n", options.persist ? "Wrote" : "Removed", file.string());
    }
  }
  list(host, out);
  return 0;
}

int runDevicesCommand(const DevicesCommandOptions& options, std::ostream& out, std::ostream& err) {
  auto host = PulseAudioHost::connect();
  if (!host) {
    fmt::print(err, "{}\n", host.error().description());
    return 1;
  }
  auto withFiles = options;
  if (withFiles.configRoot.empty()) withFiles.configRoot = Pulse::LoopbackPersistence::defaultConfigRoot();
  return runDevicesCommand(withFiles, **host, **host, out, err);
}

}  // namespace oskel
