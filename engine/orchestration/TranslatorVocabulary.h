#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "pipeline/TranscriptKind.h"

// The words the orchestrators use to tell the application what happens:
// directions, transcript kinds and fragments, states, events and errors.
namespace oskel {

enum class CallDirection { outgoing, incoming };
std::string_view rawValue(CallDirection direction);
std::optional<CallDirection> callDirectionFromRaw(std::string_view raw);


struct TranscriptFragment {
  CallDirection direction;
  TranscriptKind kind;
  std::string text;
  bool operator==(const TranscriptFragment&) const = default;
};

namespace TranslatorStates {
struct Failed {
  std::string message;
  bool operator==(const Failed&) const = default;
};
#define OSKEL_EMPTY_STATE(Name) \
  struct Name {                 \
    bool operator==(const Name&) const = default; \
  }
OSKEL_EMPTY_STATE(Idle);
OSKEL_EMPTY_STATE(Starting);
OSKEL_EMPTY_STATE(Connecting);
OSKEL_EMPTY_STATE(Live);
OSKEL_EMPTY_STATE(Reconnecting);
OSKEL_EMPTY_STATE(Passthrough);
OSKEL_EMPTY_STATE(Stopping);
#undef OSKEL_EMPTY_STATE
}  // namespace TranslatorStates

using TranslatorState =
    std::variant<TranslatorStates::Failed, TranslatorStates::Idle, TranslatorStates::Starting,
                 TranslatorStates::Connecting, TranslatorStates::Live, TranslatorStates::Reconnecting,
                 TranslatorStates::Passthrough, TranslatorStates::Stopping>;

// "idle", "live", "failed: <message>", ... for logs and the command line.
std::string describe(const TranslatorState& state);

namespace TranslatorEvents {
struct State {
  TranslatorState state;
  bool operator==(const State&) const = default;
};
struct Transcript {
  TranscriptFragment fragment;
  bool operator==(const Transcript&) const = default;
};
struct SignedOut {
  bool operator==(const SignedOut&) const = default;
};
}  // namespace TranslatorEvents

using TranslatorEvent = std::variant<TranslatorEvents::State, TranslatorEvents::Transcript, TranslatorEvents::SignedOut>;

// Start failures of an orchestrator; description() is shown to the user unchanged.
struct TranslatorError {
  struct DriverMissing {
    std::string detail;
    bool operator==(const DriverMissing&) const = default;
  };
  struct SameDevice {
    std::string deviceName;
    bool operator==(const SameDevice&) const = default;
  };
  struct NoDefaultDevices {
    bool operator==(const NoDefaultDevices&) const = default;
  };

  std::variant<DriverMissing, SameDevice, NoDefaultDevices> value;

  static TranslatorError driverMissing(std::string detail) { return {DriverMissing{std::move(detail)}}; }
  static TranslatorError sameDevice(std::string name) { return {SameDevice{std::move(name)}}; }
  static TranslatorError noDefaultDevices() { return {NoDefaultDevices{}}; }

  std::string description() const;
  bool operator==(const TranslatorError&) const = default;
};

}  // namespace oskel
