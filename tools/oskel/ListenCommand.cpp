#include "ListenCommand.h"

#include <chrono>
#include <ostream>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "CommandSupport.h"
#include "PipelineRun.h"
#include "ServiceChoice.h"
#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/pulse/PulseAudioHost.h"
#include "pipeline/TranslationPipeline.h"

namespace oskel {

namespace {

constexpr double drainTimeout = 4.0;

std::expected<AudioDeviceInfo, std::string> resolve(AudioHost& host, const std::optional<std::string>& query,
                                                   AudioDevices::Direction direction) {
  const bool input = direction == AudioDevices::Direction::input;
  if (query) {
    auto found = AudioDevices::find(host, *query, direction);
    if (!found) return std::unexpected(found.error().description());
    return *found;
  }
  auto fallback = input ? AudioDevices::defaultInput(host) : AudioDevices::defaultOutput(host);
  if (!fallback) return std::unexpected(fmt::format("there is no default {} device", input ? "input" : "output"));
  return *fallback;
}

}  // namespace

int runListenCommand(const ListenOptions& options, std::ostream& out, std::ostream& err) {
  if (!checkTargetLanguage("listen", options.language, err)) return 2;
  auto host = PulseAudioHost::connect();
  if (!host) {
    fmt::print(err, "oskel listen: {}\n", host.error().description());
    return 1;
  }
  return runListenCommand(options, *host, out, err);
}

int runListenCommand(const ListenOptions& options, std::shared_ptr<AudioHost> host, std::ostream& out,
                     std::ostream& err) {
  if (!checkTargetLanguage("listen", options.language, err)) return 2;
  const auto microphone = resolve(*host, options.inputDevice, AudioDevices::Direction::input);
  const auto speaker = resolve(*host, options.outputDevice, AudioDevices::Direction::output);
  for (const auto* device : {&microphone, &speaker}) {
    if (!device->has_value()) {
      fmt::print(err, "oskel listen: {}\n", device->error());
      return 1;
    }
  }
  auto capture = AudioCapture::make(host, *microphone);
  if (!capture) {
    fmt::print(err, "oskel listen: {}\n", capture.error().description());
    return 1;
  }
  auto playback = AudioPlayback::make(host, *speaker);
  if (!playback) {
    fmt::print(err, "oskel listen: {}\n", playback.error().description());
    return 1;
  }
  auto service = chooseService();
  if (!service) {
    fmt::print(err, "oskel listen: {}\n", service.error());
    return 1;
  }
  if (!service->description.empty()) fmt::print(out, "{}\n", service->description);

  PipelineConfig config(options.from.value_or("auto") + "→" + options.language, std::move(*capture),
                        std::move(*playback), TranslationOptions(options.language), service->credential);
  config.sessionEnvironment = service->environment;
  config.voiceOverGainDB = options.voiceOverDB;
  config.voiceOverDuckDB = options.duckDB;
  config.normalizeInput = options.normalize;
  PipelineRun run(TranslationPipeline::make(std::move(config)));
  if (auto failed = run.start()) {
    fmt::print(err, "oskel listen: {}\n", *failed);
    run.stop(0.0);
    return 1;
  }
  fmt::print(out, "Listening on {}, playing on {}{}\n", microphone->name, speaker->name,
             options.seconds ? fmt::format(" for {}s", *options.seconds) : std::string("; Ctrl-C stops"));
  out.flush();

  const auto started = std::chrono::steady_clock::now();
  run.wait([&] {
    return options.seconds &&
           std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >= *options.seconds;
  });
  run.stop(run.interrupted() ? 0.3 : drainTimeout);
  if (auto failure = run.failure()) {
    fmt::print(err, "oskel listen: {}\n", *failure);
    return 1;
  }
  return run.interrupted() ? 130 : 0;
}

}  // namespace oskel
