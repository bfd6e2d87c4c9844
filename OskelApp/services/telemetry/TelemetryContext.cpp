#include "TelemetryContext.h"

#include <sys/utsname.h>

#include <cstdlib>
#include <fstream>

namespace oskel {
namespace {

// A value of os-release's shell-like assignments, with its quotes removed.
std::string unquote(std::string value) {
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.substr(1, value.size() - 2);
  std::string plain;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '\\' && i + 1 < value.size()) ++i;
    plain += value[i];
  }
  return plain;
}

std::string localeIdentifier() {
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (!value || !*value) continue;
    std::string locale(value);
    locale = locale.substr(0, locale.find_first_of(".@"));
    return locale;
  }
  return "C";
}

}  // namespace

void TelemetryContext::readOsRelease(const std::string& path) {
  osName.clear();
  osVersion.clear();
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const auto key = line.substr(0, equals);
    if (key == "NAME") osName = unquote(line.substr(equals + 1));
    if (key == "VERSION_ID") osVersion = unquote(line.substr(equals + 1));
  }
  if (osName.empty()) osName = "Linux";
  if (osVersion.empty()) {
    utsname system{};
    if (::uname(&system) == 0) osVersion = system.release;
  }
}

TelemetryContext TelemetryContext::current(std::string appVersion, std::string appBuild) {
  TelemetryContext context{std::move(appVersion), std::move(appBuild), {}, {}, localeIdentifier()};
  context.readOsRelease(std::ifstream("/etc/os-release") ? "/etc/os-release" : "/usr/lib/os-release");
  return context;
}

boost::json::object TelemetryContext::json() const {
  return {
      {"app", {{"name", "Oskel"}, {"version", appVersion}, {"build", appBuild}}},
      {"os", {{"name", osName}, {"version", osVersion}}},
      {"device", {{"type", "desktop"}}},
      {"locale", locale},
      {"library", {{"name", "oskel-telemetry-cpp"}, {"version", "1"}}},
  };
}

}  // namespace oskel
