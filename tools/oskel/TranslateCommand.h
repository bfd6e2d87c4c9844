#pragma once

#include <iosfwd>
#include <optional>
#include <string>

#include "PipelineRun.h"

namespace oskel {

struct TranslateOptions {
  std::string input;                  // the WAV file to translate
  std::optional<std::string> output;  // -o: WAV file of what is played
  PipelineChoices pipeline{"translate"};
};

// `oskel translate`: plays a WAV file into one translation pipeline in real
// time, prints live captions, and writes what the pipeline plays. It ends
// once the file is over and the translation has gone quiet. Returns the
// process exit status.
int runTranslateCommand(const TranslateOptions& options, std::ostream& out, std::ostream& err);

}  // namespace oskel
