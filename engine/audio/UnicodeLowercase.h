#pragma once

#include <string>
#include <string_view>

namespace oskel {

// Lower-cases UTF-8 text code point by code point (Unicode simple case
// mapping); malformed bytes are kept as they are.
std::string unicodeLowercase(std::string_view text);

}  // namespace oskel
