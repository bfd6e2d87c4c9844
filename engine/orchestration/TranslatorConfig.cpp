#include "orchestration/TranslatorConfig.h"

namespace oskel {

using Directions = TranslatorConfig::VoiceOver::Directions;

std::string_view rawValue(Directions directions) {
  switch (directions) {
    case Directions::both: return "both";
    case Directions::incoming: return "incoming";
    case Directions::outgoing: return "outgoing";
  }
  return "both";
}

std::optional<Directions> voiceOverDirectionsFromRaw(std::string_view raw) {
  if (raw == "both") return Directions::both;
  if (raw == "incoming") return Directions::incoming;
  if (raw == "outgoing") return Directions::outgoing;
  return std::nullopt;
}

}  // namespace oskel
