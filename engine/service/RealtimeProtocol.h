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
  std::string sessionID;  // "?" when missing
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
struct Unhandled {
  std::string type;
};
// Not a JSON object, no string "type", a delta that is missing, not a
// string, or audio that does not decode or decodes to nothing.
struct Dropped {};
}  // namespace Incoming

using Message = std::variant<Incoming::Dropped, Incoming::Created, Incoming::Updated, Incoming::OutputAudioDelta,
                             Incoming::OutputTranscriptDelta, Incoming::InputTranscriptDelta, Incoming::Closed,
                             Incoming::Error, Incoming::Unhandled>;

// Parses one received frame. Never throws.
Message parse(std::string_view bytes);

// The "type" string of a parsed frame, when it had one (for diagnostics).
std::optional<std::string> typeOf(std::string_view bytes);

}  // namespace oskel::RealtimeProtocol
