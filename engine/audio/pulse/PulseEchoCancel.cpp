#include "audio/pulse/PulseEchoCancel.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include <fmt/format.h>

namespace oskel::Pulse::EchoCancel {
namespace {

constexpr std::string_view prefix = "oskel_echo_";

// Node names go into the arguments unquoted: refuse anything but a plain name.
bool plain(const std::string& name) {
  return !name.empty() && std::ranges::all_of(name, [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || c == ':';
  });
}

}  // namespace

Names namesFor(int pid, uint32_t sequence) {
  const std::string base = fmt::format("{}{}_{}", prefix, pid, sequence);
  return Names{base + "_source", base + "_sink"};
}

std::expected<std::string, AudioHostError> arguments(Server server, const std::string& sourceMaster,
                                                     const std::string& sinkMaster, const Names& names) {
  for (const auto* name : {&sourceMaster, &sinkMaster}) {
    if (!plain(*name)) {
      return std::unexpected(AudioHostError{fmt::format("device name \"{}\" cannot be given to the echo canceller", *name)});
    }
  }
  const std::string common = fmt::format("source_master={} sink_master={} source_name={} sink_name={}", sourceMaster,
                                         sinkMaster, names.source, names.sink);
  if (server == Server::pipeWire) return common + " aec_args=\"webrtc.gain_control=false\"";
  return common + " aec_method=webrtc aec_args=\"analog_gain_control=0 digital_gain_control=1\" adjust_time=0";
}

std::vector<uint32_t> staleModules(const Snapshot& snapshot, int self, const std::function<bool(int pid)>& alive) {
  std::vector<uint32_t> stale;
  const std::string key = "source_name=" + std::string(prefix);
  for (const auto& [index, args] : snapshot.moduleArguments) {
    const auto name = snapshot.modules.find(index);
    if (name == snapshot.modules.end() || !name->second.ends_with("module-echo-cancel")) continue;
    const auto at = args.find(key);
    if (at == std::string::npos) continue;
    const char* digits = args.data() + at + key.size();
    int pid = 0;
    const auto [end, error] = std::from_chars(digits, args.data() + args.size(), pid);
    if (error != std::errc() || end == digits || *end != '_') continue;
    if (pid != self && !alive(pid)) stale.push_back(index);
  }
  return stale;
}

}  // namespace oskel::Pulse::EchoCancel
