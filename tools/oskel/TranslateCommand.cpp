#include "TranslateCommand.h"

#include <chrono>
#include <ostream>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "CommandSupport.h"
#include "PipelineRun.h"
#include "ServiceChoice.h"
#include "audio/file/WAVFileInput.h"
#include "audio/file/WAVFileOutput.h"
#include "pipeline/TranslationPipeline.h"

namespace oskel {

namespace {

using Steady = std::chrono::steady_clock;

double secondsSince(Steady::time_point from) { return std::chrono::duration<double>(Steady::now() - from).count(); }

// After the file ends the service still finishes its last sentence; the run
// ends once nothing has come back for this long and what is left has played.
constexpr double quietTail = 3.0;
// However chatty the service stays, the run ends this long after the file.
constexpr double longestTail = 30.0;
constexpr double drainTimeout = 4.0;

}  // namespace

int runTranslateCommand(const TranslateOptions& options, std::ostream& out, std::ostream& err) {
  if (!checkTargetLanguage("translate", options.language, err)) return 2;
  auto service = chooseService();
  if (!service) {
    fmt::print(err, "oskel translate: {}\n", service.error());
    return 1;
  }
  if (!service->description.empty()) {
    fmt::print(out, "{}\n", service->description);
    out.flush();  // the captions are written unbuffered
  }

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

  PipelineConfig config(options.from.value_or("auto") + "→" + options.language, input, output,
                        TranslationOptions(options.language), service->credential);
  config.sessionEnvironment = service->environment;
  config.voiceOverGainDB = options.voiceOverDB;
  config.voiceOverDuckDB = options.duckDB;
  PipelineRun run(TranslationPipeline::make(std::move(config)));
  if (auto failed = run.start()) {
    fmt::print(err, "oskel translate: {}\n", *failed);
    run.stop(0.0);
    return 1;
  }

  std::optional<Steady::time_point> fileEnded;
  double translated = -1;
  Steady::time_point lastTranslated = Steady::now();
  const auto prefill = static_cast<int64_t>(0.12 * output->sampleRate());
  run.wait([&] {
    if (!input->finished()) return false;
    if (!fileEnded) fileEnded = lastTranslated = Steady::now();
    // Only audible translation counts: services pad with near-silence.
    if (run.pipeline().translatedSeconds() != translated) {
      translated = run.pipeline().translatedSeconds();
      lastTranslated = Steady::now();
    }
    const bool played = run.pipeline().translationBuffered() < prefill;
    return (secondsSince(lastTranslated) >= quietTail && played) || secondsSince(*fileEnded) >= longestTail;
  });
  run.stop(run.interrupted() ? 0.3 : drainTimeout);

  int status = run.interrupted() ? 130 : 0;
  if (auto failure = run.failure()) {
    fmt::print(err, "oskel translate: {}\n", *failure);
    status = 1;
  }
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
