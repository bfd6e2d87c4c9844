#pragma once

#include <expected>
#include <iosfwd>
#include <optional>
#include <string>

namespace oskel {

// False, after telling the user which codes exist, when the service cannot
// translate into `language`.
bool checkTargetLanguage(const std::string& command, const std::string& language, std::ostream& err);

// The level (dB) the original voice is lowered to while translation plays,
// from --duck: a number, "off" for a constant level (absent), or, without
// the option, the application's -18 dB. An error text for anything else.
inline constexpr double defaultDuckDB = -18.0;
std::expected<std::optional<double>, std::string> duckLevel(const std::optional<std::string>& duck);

}  // namespace oskel
