#include "PackageInstaller.h"

namespace oskel::update {

std::vector<std::string> installCommand(const std::filesystem::path& package) {
  return {"pkexec", "/usr/bin/apt-get", "install", "--yes", std::filesystem::absolute(package).string()};
}

std::optional<std::string> installFailure(const ProcessOutcome& outcome) {
  if (outcome.exitCode == 0) return std::nullopt;
  if (outcome.exitCode == 126 || outcome.exitCode == 127) return "Installation was cancelled.";
  constexpr std::string_view space = " \t\r\n";
  const auto& text = outcome.errorText;
  const auto first = text.find_first_not_of(space);
  if (first == std::string::npos) return "The installer failed.";
  return text.substr(first, text.find_last_not_of(space) - first + 1);
}

}  // namespace oskel::update
