#include "TelemetryRedaction.h"

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
  static constexpr std::string_view ellipsis = "\u2026";
  const auto keyLength = [&](size_t at) {
    size_t end = at;
    for (;;) {
      const char c = end < text.size() ? text[end] : '\0';
      const bool ascii = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
      if (ascii || c == '_' || c == '-' || c == '*' || c == '.') {
        ++end;
      } else if (text.substr(end).starts_with(ellipsis)) {
        end += ellipsis.size();
      } else {
        return end - at;
      }
    }
  };
  std::string out;
  for (size_t i = 0; i < text.size();) {
    if (text.substr(i).starts_with("sk-")) {
      if (const auto length = keyLength(i + 3); length > 0) {
        out += "sk-";
        out += ellipsis;
        i += 3 + length;
        continue;
      }
    }
    out += text[i++];
  }
  return cutToCharacters(out, 200);
}

}  // namespace oskel
