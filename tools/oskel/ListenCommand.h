#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

#include "PipelineRun.h"

namespace oskel {

class AudioHost;

struct ListenOptions {
  std::optional<std::string> inputDevice;   // --input: UID or name; absent: the default input
  std::optional<std::string> outputDevice;  // --output: UID or name; absent: the default output
  std::optional<double> seconds;            // --seconds: end after this long; absent: Ctrl-C
  bool echoCancellation = false;            // --echo-cancellation: through the audio server's canceller
  PipelineChoices pipeline{"listen"};
};

// `oskel listen`: one translation pipeline from a microphone to a speaker on
// the audio server, with live captions, until Ctrl-C. Returns the process
// exit status.
int runListenCommand(const ListenOptions& options, std::ostream& out, std::ostream& err);
// The same on a given audio host.
int runListenCommand(const ListenOptions& options, std::shared_ptr<AudioHost> host, std::ostream& out,
                     std::ostream& err);

}  // namespace oskel
