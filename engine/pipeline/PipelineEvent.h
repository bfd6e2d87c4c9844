#pragma once

#include <string>
#include <variant>

#include "pipeline/TranscriptKind.h"

namespace oskel {

// What a pipeline tells its owner. Cases in declaration order.
namespace PipelineEvents {
struct Transcript {
  TranscriptKind kind;  // heard: the speaker's own words; said: the translation
  std::string text;
  bool operator==(const Transcript&) const = default;
};
struct Error {
  std::string message;  // the service reported an error
  bool operator==(const Error&) const = default;
};
struct Disconnected {
  std::string reason;  // the session reconnects by itself
  bool operator==(const Disconnected&) const = default;
};
struct Fatal {
  std::string message;  // the session gave up
  bool operator==(const Fatal&) const = default;
};
struct Connected {
  bool operator==(const Connected&) const = default;
};
struct Ready {
  bool operator==(const Ready&) const = default;
};
// Entered passthrough because the owner asked.
struct Passthrough {
  bool operator==(const Passthrough&) const = default;
};
// The service rejected the access token; the pipeline is now in passthrough.
struct SignedOut {
  bool operator==(const SignedOut&) const = default;
};
}  // namespace PipelineEvents

using PipelineEvent =
    std::variant<PipelineEvents::Transcript, PipelineEvents::Error, PipelineEvents::Disconnected,
                 PipelineEvents::Fatal, PipelineEvents::Connected, PipelineEvents::Ready,
                 PipelineEvents::Passthrough, PipelineEvents::SignedOut>;

}  // namespace oskel
