#include "audio/pulse/PulseLoopbackPersistence.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

#include <fmt/format.h>

#include "audio/LoopbackDevices.h"
#include "audio/pulse/PulseLoopbackModules.h"
#include "system/UserFolders.h"

namespace oskel::Pulse::LoopbackPersistence {
namespace fs = std::filesystem;
namespace {

constexpr const char* header =
    "# Written by Oskel: its two loopback devices, \"Oskel Microphone\" and \"Oskel Speaker\",\n"
    "# at every start of the audio server. `oskel devices --remove-loopback` removes this file.\n";

struct Module {
  std::string name;
  std::string arguments;
};

std::expected<std::vector<Module>, AudioHostError> modules() {
  std::vector<Module> all;
  for (const auto& spec : LoopbackDevices::specs()) {
    auto sink = LoopbackModules::nullSinkArguments(spec);
    if (!sink) return std::unexpected(sink.error());
    auto source = LoopbackModules::remapSourceArguments(spec);
    if (!source) return std::unexpected(source.error());
    all.push_back({"module-null-sink", std::move(*sink)});
    all.push_back({"module-remap-source", std::move(*source)});
  }
  return all;
}

// `quote` with every character in `special` preceded by a backslash.
std::string quoted(const std::string& text, std::string_view special) {
  std::string out = "\"";
  for (char c : text) {
    if (special.find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out + "\"";
}

// systemd expands '%' specifiers and '$' variables in command lines.
std::string systemdWord(const std::string& text) {
  std::string plain;
  for (char c : text) {
    if (c == '%' || c == '$') plain += c;
    plain += c;
  }
  return quoted(plain, "\\\"");
}

std::expected<void, AudioHostError> writeFile(const fs::path& path, const std::string& text) {
  std::error_code error;
  fs::create_directories(path.parent_path(), error);
  if (error) return std::unexpected(AudioHostError{fmt::format("cannot write {}: {}", path.string(), error.message())});
  // Written beside and renamed, so a server never reads half a file.
  const auto temporary = fs::path(path).concat(".tmp");
  {
    std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
    file << text;
    file.close();
    if (!file) {
      fs::remove(temporary, error);
      return std::unexpected(AudioHostError{fmt::format("cannot write {}", path.string())});
    }
  }
  fs::rename(temporary, path, error);
  if (error) return std::unexpected(AudioHostError{fmt::format("cannot write {}: {}", path.string(), error.message())});
  return {};
}

}  // namespace

fs::path defaultConfigRoot() {
  return xdgFolder("XDG_CONFIG_HOME", ".config");
}

std::vector<fs::path> files(const fs::path& configRoot) {
  return {configRoot / "pipewire/pipewire-pulse.conf.d/oskel-loopback.conf",
          configRoot / "systemd/user/pulseaudio.service.d/oskel-loopback.conf"};
}

std::expected<std::string, AudioHostError> pipewireFragment() {
  const auto all = modules();
  if (!all) return std::unexpected(all.error());
  std::string text = std::string(header) + "pulse.cmd = [\n";
  for (const auto& module : *all) {
    text += fmt::format("  {{ cmd = \"load-module\" args = {} flags = [ \"nofail\" ] }}\n",
                        quoted(module.name + " " + module.arguments, "\\\""));
  }
  return text + "]\n";
}

std::expected<std::string, AudioHostError> systemdDropIn() {
  const auto all = modules();
  if (!all) return std::unexpected(all.error());
  // "-": a module the server already has must not mark the server failed.
  std::string text = std::string(header) + "[Service]\n";
  for (const auto& module : *all)
    text += fmt::format("ExecStartPost=-/usr/bin/pactl load-module {} {}\n", module.name, systemdWord(module.arguments));
  return text;
}

std::expected<std::vector<fs::path>, AudioHostError> write(const fs::path& configRoot) {
  const auto paths = files(configRoot);
  const auto pipewire = pipewireFragment();
  if (!pipewire) return std::unexpected(pipewire.error());
  const auto systemd = systemdDropIn();
  if (!systemd) return std::unexpected(systemd.error());
  for (const auto& [path, text] : {std::pair{paths[0], *pipewire}, std::pair{paths[1], *systemd}}) {
    if (auto written = writeFile(path, text); !written) return std::unexpected(written.error());
  }
  return paths;
}

std::expected<std::vector<fs::path>, AudioHostError> remove(const fs::path& configRoot) {
  std::vector<fs::path> removed;
  for (const auto& path : files(configRoot)) {
    std::error_code error;
    if (fs::remove(path, error)) {
      removed.push_back(path);
      // Only an empty folder goes; rmdir leaves one with anything in it.
      fs::remove(path.parent_path(), error);
    } else if (error && error != std::errc::not_a_directory) {
      return std::unexpected(AudioHostError{fmt::format("cannot remove {}: {}", path.string(), error.message())});
    }
  }
  return removed;
}

}  // namespace oskel::Pulse::LoopbackPersistence
