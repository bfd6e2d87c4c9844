#include "CommandSupport.h"

#include <charconv>
#include <ostream>
#include <vector>

#include <fmt/format.h>
#include <fmt/ostream.h>
#include <fmt/ranges.h>

#include "service/TranslationOptions.h"

namespace oskel {

bool checkTargetLanguage(const std::string& command, const std::string& language, std::ostream& err) {
  const auto& languages = TranslationOptions::supportedOutputLanguages();
  if (languages.contains(language)) return true;
  std::vector<std::string> codes;
  for (const auto& [code, name] : languages) codes.push_back(code);
  fmt::print(err, "oskel {}: the service does not translate into \"{}\"; choose one of {}\n", command, language,
             fmt::join(codes, ", "));
  return false;
}

std::expected<std::optional<double>, std::string> duckLevel(const std::optional<std::string>& duck) {
  if (!duck) return defaultDuckDB;
  if (*duck == "off") return std::nullopt;
  double value = 0;
  const auto* end = duck->data() + duck->size();
  if (auto [ptr, ec] = std::from_chars(duck->data(), end, value); ec != std::errc() || ptr != end)
    return std::unexpected("--duck takes a level in dB or \"off\", not \"" + *duck + "\"");
  return value;
}

}  // namespace oskel
