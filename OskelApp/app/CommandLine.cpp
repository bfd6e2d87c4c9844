#include "CommandLine.h"

#include <charconv>

namespace oskel::app {

CommandLine CommandLine::parse(const std::vector<std::string>& args) {
  CommandLine line;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    const bool hasNext = i + 1 < args.size();
    if (arg == "--preview" && hasNext) {
      line.preview = args[++i];
    } else if (arg == "--onboard") {
      line.onboard = true;
    } else if (arg == "--update-now") {
      line.updateNow = true;
    } else if (arg == "--verbose" || arg == "-v") {
      line.verbose = true;
    } else if (arg == "--wait-for-pid" && hasNext) {
      const std::string& text = args[++i];
      pid_t pid = 0;
      const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), pid);
      if (error == std::errc() && end == text.data() + text.size() && pid > 0) line.waitForPid = pid;
    }
  }
  return line;
}

}  // namespace oskel::app
