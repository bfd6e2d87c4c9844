#pragma once

#include <string>
#include <string_view>

namespace oskel {

// An error text as it may leave the machine: every service key ("sk-" and
// what follows) becomes "sk-…", then the text is cut to 200 characters
// (whole UTF-8 characters).
std::string redactedForTelemetry(std::string_view text);

// The first `characters` characters of UTF-8 text.
std::string cutToCharacters(std::string_view text, size_t characters);

}  // namespace oskel
