#pragma once

#include <string>

#include <boost/json/object.hpp>

namespace oskel {

// What every telemetry message says about the installation it comes from.
struct TelemetryContext {
  std::string appVersion;
  std::string appBuild;
  std::string osName;     // the distribution's NAME from os-release
  std::string osVersion;  // its VERSION_ID
  std::string locale;     // such as "de_CH"

  // The running system: os-release (/etc/os-release, else
  // /usr/lib/os-release), the locale of LC_ALL, LC_MESSAGES or LANG.
  static TelemetryContext current(std::string appVersion, std::string appBuild);
  // NAME and VERSION_ID of an os-release file; "Linux" and the kernel's
  // release when the file is missing or lacks them.
  void readOsRelease(const std::string& path);

  boost::json::object json() const;
};

}  // namespace oskel
