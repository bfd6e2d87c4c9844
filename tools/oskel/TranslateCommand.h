#pragma once

#include <iosfwd>
#include <optional>
#include <string>

namespace oskel {

struct TranslateOptions {
  std::string input;                  // the WAV file to translate
  std::string language;               // --to
  std::optional<std::string> output;  // -o: WAV file of what is played
  std::optional<std::string> from;    // --from: the speaker's language, for the label
  std::optional<double> voiceOverDB;  // --voice-over: keep the original at this level
  std::optional<double> duckDB;       // --duck: lower it to this while translation plays
  std::optional<std::string> record;  // --record: stereo recording of played and captured audio
};

// `oskel translate`: plays a WAV file into one translation pipeline in real
// time, prints live captions, and writes what the pipeline plays. It ends
// once the file is over and the translation has gone quiet. Returns the
// process exit status.
int runTranslateCommand(const TranslateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace oskel
