#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "service/TranslationOptions.h"

// The JSON messages of the realtime translation WebSocket: what the engine
// sends, and what it understands of what it receives.
namespace oskel::RealtimeProtocol {

// Outgoing messages, serialised compactly.
std::string sessionUpdate(const TranslationOptions& options);
std::string appendAudio(std::span<const uint8_t> pcm16);
std::string sessionClose();

// Incoming messages, one case per handled type.
namespace Incoming {
struct Created {
  std::string sessionID;  // "?" when missing or not a string
  std::optional<std::chrono::system_clock::time_point> expiresAt;
};
struct Updated {};
struct OutputAudioDelta {
  std::vector<uint8_t> pcm16;  // decoded, never empty
};
struct OutputTranscriptDelta {
  std::string text;
};
struct InputTranscriptDelta {
  std::string text;
};
struct Closed {};
struct Error {
  std::string text;  // error.message, else a rendering of the whole object
};
// A known delta type whose "delta" is missing or not a string, or audio that
// does not decode or decodes to nothing: nothing is raised for it.
struct Ignored {};
struct Unhandled {
  std::string type;
};
}  // namespace Incoming

using Message = std::variant<Incoming::Created, Incoming::Updated, Incoming::OutputAudioDelta,
                             Incoming::OutputTranscriptDelta, Incoming::InputTranscriptDelta, Incoming::Closed,
                             Incoming::Error, Incoming::Ignored, Incoming::Unhandled>;

// A received JSON object with a string "type".
struct Received {
  std::string type;
  Message message;
};

// Parses one received frame (text or binary payload). Unparseable JSON, JSON
// that is not an object, and objects without a string "type" give nullopt.
// Never throws on malformed input.
std::optional<Received> parse(std::string_view bytes);

}  // namespace oskel::RealtimeProtocol
