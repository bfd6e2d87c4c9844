#include "audio/AudioDeviceError.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

namespace oskel {

std::string AudioDeviceError::description() const {
  struct Describe {
    std::string operator()(const NotFound& e) const {
      return fmt::format("no audio device matches \"{}\". Available: {}", e.query,
                         fmt::join(e.candidates, ", "));
    }
    std::string operator()(const Ambiguous& e) const {
      return fmt::format("\"{}\" matches several devices \u2014 pass the UID instead:\n  {}", e.query,
                         fmt::join(e.matches, "\n  "));
    }
  };
  return std::visit(Describe{}, value);
}

}  // namespace oskel
