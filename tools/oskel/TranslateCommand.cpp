#include "TranslateCommand.h"

#include <chrono>
#include <ostream>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "CommandSupport.h"
#include "audio/file/WAVFileInput.h"
#include "audio/file/WAVFileOutput.h"

namespace oskel {

namespace {

using Steady = std::chrono::steady_clock;

double secondsSince(Steady::time_point from) { return std::chrono::duration<double>(Steady::now() - from).count(); }

// After the file ends the service still finishes its last sentence; the run
// ends once nothing audible has come back for this long and what is left
// has played.
constexpr double quietTail = 3.0;
// However chatty the service stays, the run ends this long after the file.
constexpr double longestTail = 30.0;

}  // namespace

int runTranslateCommand(const TranslateOptions& options, std::ostream& out, std::ostream& err) {
  if (!checkTargetLanguage("translate", options.pipeline.language, err)) return 2;
  auto opened = WAVFileInput::open(options.input);
  if (!opened) {
    fmt::print(err, "oskel translate: cannot read {}: {}\n", options.input, opened.error().description());
    return 1;
  }
  std::shared_ptr<WAVFileInput> input = std::move(*opened);
  WAVFileOutput::Options outputOptions;
  outputOptions.sampleRate = input->sampleRate();
  auto created = WAVFileOutput::create(options.output, outputOptions);
  if (!created) {
    fmt::print(err, "oskel translate: cannot write {}: {}\n", options.output.value_or(""),
               created.error().description());
    return 1;
  }
  std::shared_ptr<WAVFileOutput> output = std::move(*created);

  auto run = PipelineRun::start(options.pipeline, input, output, out, err);
  if (!run) return run.error();

  std::optional<Steady::time_point> fileEnded;
  double translated = -1;
  Steady::time_point lastTranslated = Steady::now();
  bool flushed = false;
  auto& pipeline = (*run)->pipeline();
  (*run)->wait([&] {
    if (!input->finished()) return false;
    if (!fileEnded) fileEnded = lastTranslated = Steady::now();
    // Only audible translation counts: services pad with near-silence.
    if (pipeline.translatedSeconds() != translated) {
      translated = pipeline.translatedSeconds();
      lastTranslated = Steady::now();
      flushed = false;
    }
    if (secondsSince(*fileEnded) >= longestTail) return true;
    if (secondsSince(lastTranslated) < quietTail) return false;
    // Nothing more is coming: play out what is left, even when it is shorter
    // than the prefill, before stopping.
    if (!flushed) {
      pipeline.flushTranslation();
      flushed = true;
    }
    return pipeline.translationBuffered() == 0;
  });
  int status = (*run)->finish(out, err);
  if (auto failure = output->error()) {
    fmt::print(err, "oskel translate: {}\n", failure->description());
    status = 1;
  } else if (options.output) {
    fmt::print(out, "Wrote {} ({:.1f}s)\n", *options.output,
               static_cast<double>(output->framesRendered()) / output->sampleRate());
  }
  return status;
}

}  // namespace oskel
