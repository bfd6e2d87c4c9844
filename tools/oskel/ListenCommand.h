#pragma once

#include <iosfwd>
#include <memory>
#include <optional>
#include <string>

namespace oskel {

class AudioHost;

struct ListenOptions {
  std::string language;                     // --to
  std::optional<std::string> inputDevice;   // --input: UID or name; absent: the default input
  std::optional<std::string> outputDevice;  // --output: UID or name; absent: the default output
  std::optional<std::string> from;          // --from: the speaker's language, for the label
  std::optional<double> voiceOverDB;        // --voice-over
  std::optional<double> duckDB;             // --duck
  bool normalize = false;                   // --normalize: raise quiet input
  std::optional<double> seconds;            // --seconds: end after this long; absent: Ctrl-C
  std::optional<std::string> record;        // --record: stereo recording of played and captured audio
};

// `oskel listen`: one translation pipeline from a microphone to a speaker on
// the audio server, with live captions, until Ctrl-C. Returns the process
// exit status.
int runListenCommand(const ListenOptions& options, std::ostream& out, std::ostream& err);
// The same on a given audio host.
int runListenCommand(const ListenOptions& options, std::shared_ptr<AudioHost> host, std::ostream& out,
                     std::ostream& err);

}  // namespace oskel
