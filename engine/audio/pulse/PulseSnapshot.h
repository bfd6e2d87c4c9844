#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// What the audio server reports about its sinks, sources and modules at one
// moment, in plain types: the device mapping works on this, not on libpulse.
namespace oskel::Pulse {

inline constexpr uint32_t invalidIndex = UINT32_MAX;

struct Node {
  uint32_t index = invalidIndex;
  std::string name;
  std::string description;
  uint32_t card = invalidIndex;
  uint32_t ownerModule = invalidIndex;
  uint32_t monitorOfSink = invalidIndex;  // sources only: the sink this source monitors
  std::string monitorSource;              // sinks only: the name of their monitor source
  uint32_t channels = 0;
  std::string channelMap;  // the server's textual channel map
  uint32_t rate = 0;
  bool hardware = false;
  // The encodings the node takes; PCM means the server converts any sample format.
  bool acceptsPCM = true;
  uint32_t firstEncoding = 0;  // PA encoding number, when PCM is not accepted
  std::map<std::string, std::string> properties;
  std::vector<float> volume;  // per channel; 1 is the nominal full volume

  std::optional<std::string> property(const std::string& key) const {
    auto it = properties.find(key);
    return it == properties.end() ? std::nullopt : std::optional(it->second);
  }
};

struct Snapshot {
  std::vector<Node> sinks;    // in index order
  std::vector<Node> sources;  // in index order
  std::map<uint32_t, std::string> modules;  // index -> module name
  std::map<uint32_t, std::string> moduleArguments;  // index -> its arguments
  std::string defaultSink;
  std::string defaultSource;
};

}  // namespace oskel::Pulse
