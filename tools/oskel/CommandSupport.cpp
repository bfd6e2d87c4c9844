#include "CommandSupport.h"

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

}  // namespace oskel
