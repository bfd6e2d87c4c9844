#include "TelemetryRedaction.h"

#include <regex>

namespace oskel {

std::string cutToCharacters(std::string_view text, size_t characters) {
  size_t count = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    // A character starts at every byte that is not a continuation byte.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80 && count++ == characters)
      return std::string(text.substr(0, i));
  }
  return std::string(text);
}

std::string redactedForTelemetry(std::string_view text) {
  // The key alphabet plus '*', '.' and the ellipsis a service uses when it
  // quotes a key in part ("sk-ab****wxyz", "sk-abc…").
  static const std::regex key(R"(sk-(?:[A-Za-z0-9_\-*.]|\xE2\x80\xA6)+)");
  return cutToCharacters(std::regex_replace(std::string(text), key, "sk-\u2026"), 200);
}

}  // namespace oskel
