#pragma once

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace oskel::app {

// The application's own options. Anything else (such as a URL the desktop
// hands over) is passed to the running instance as it is.
struct CommandLine {
  std::optional<std::filesystem::path> preview;  // "--preview DIR"; ignored without DIR
  bool onboard = false;                          // "--onboard"
  bool updateNow = false;                        // "--update-now"
  bool verbose = false;                          // "--verbose", "-v"
  std::optional<pid_t> waitForPid;               // "--wait-for-pid PID" (after an update)

  static CommandLine parse(const std::vector<std::string>& arguments);
};

}  // namespace oskel::app
