#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace oskel {

// What a translation session tells its owner. Cases in declaration order.
namespace TranslationEvents {
using Timestamp = std::chrono::system_clock::time_point;

struct Connected {
  std::string sessionID;
  std::optional<Timestamp> expiresAt;
  bool operator==(const Connected&) const = default;
};
struct OutputAudio {
  std::vector<uint8_t> pcm16;  // 24 kHz mono little-endian
  bool operator==(const OutputAudio&) const = default;
};
struct OutputTranscript {
  std::string text;
  bool operator==(const OutputTranscript&) const = default;
};
struct InputTranscript {
  std::string text;
  bool operator==(const InputTranscript&) const = default;
};
struct ServerError {
  std::string message;
  bool operator==(const ServerError&) const = default;
};
struct Disconnected {
  std::string reason;
  bool operator==(const Disconnected&) const = default;
};
struct Fatal {
  std::string message;
  bool operator==(const Fatal&) const = default;
};
struct Ready {
  bool operator==(const Ready&) const = default;
};
struct SignedOut {
  bool operator==(const SignedOut&) const = default;
};
struct Closed {
  bool operator==(const Closed&) const = default;
};
}  // namespace TranslationEvents

using TranslationEvent =
    std::variant<TranslationEvents::Connected, TranslationEvents::OutputAudio, TranslationEvents::OutputTranscript,
                 TranslationEvents::InputTranscript, TranslationEvents::ServerError, TranslationEvents::Disconnected,
                 TranslationEvents::Fatal, TranslationEvents::Ready, TranslationEvents::SignedOut,
                 TranslationEvents::Closed>;

// Short name of the case ("connected", "outputAudio", ...), for logs and tools.
const char* eventName(const TranslationEvent& event);

}  // namespace oskel
