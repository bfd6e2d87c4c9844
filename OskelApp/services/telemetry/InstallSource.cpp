#include "InstallSource.h"

#include <algorithm>
#include <fstream>
#include <sstream>

#include <boost/json/parse.hpp>

namespace oskel::InstallSource {

bool isValid(std::string_view text) {
  return text.size() >= 6 && text.size() <= 32 &&
         std::ranges::all_of(text, [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

std::optional<std::string> read(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  boost::system::error_code error;
  const auto document = boost::json::parse(text.str(), error);
  if (error || !document.is_object()) return std::nullopt;
  const auto* id = document.as_object().if_contains("download_id");
  if (!id || !id->is_string() || !isValid(id->get_string())) return std::nullopt;
  return std::string(id->get_string());
}

}  // namespace oskel::InstallSource

namespace oskel::Attribution {

std::optional<std::string> downloadId(SettingsStore& settings, const std::string& installSourcePath) {
  if (auto kept = settings.value(settingsKey); kept && InstallSource::isValid(*kept)) return kept;
  auto found = InstallSource::read(installSourcePath);
  if (found) settings.setValue(settingsKey, *found);
  return found;
}

}  // namespace oskel::Attribution
