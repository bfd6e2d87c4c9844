#include "orchestration/TranslatorVocabulary.h"

namespace oskel {

std::string_view rawValue(CallDirection direction) {
  return direction == CallDirection::outgoing ? "outgoing" : "incoming";
}

std::optional<CallDirection> callDirectionFromRaw(std::string_view raw) {
  if (raw == "outgoing") return CallDirection::outgoing;
  if (raw == "incoming") return CallDirection::incoming;
  return std::nullopt;
}

std::string describe(const TranslatorState& state) {
  static constexpr const char* names[] = {"failed",     "idle",         "starting",    "connecting",
                                          "live",       "reconnecting", "passthrough", "stopping"};
  static_assert(std::size(names) == std::variant_size_v<TranslatorState>);
  if (const auto* failed = std::get_if<TranslatorStates::Failed>(&state))
    return std::string("failed: ") + failed->message;
  return names[state.index()];
}

std::string TranslatorError::description() const {
  if (const auto* missing = std::get_if<DriverMissing>(&value))
    return "the Oskel virtual audio devices are not available (" + missing->detail +
           "); is OskelAudio.driver installed?";
  if (const auto* same = std::get_if<SameDevice>(&value))
    return same->deviceName + " cannot be both a Oskel virtual device and your real microphone/speaker";
  return "could not determine the default input/output devices; choose a microphone and speaker";
}

}  // namespace oskel
