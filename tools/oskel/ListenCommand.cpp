#include "ListenCommand.h"

#include <chrono>
#include <ostream>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "CommandSupport.h"
#include "audio/AudioDevices.h"
#include "audio/RealEndpoints.h"
#include "audio/pulse/PulseAudioHost.h"

namespace oskel {

namespace {

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
  if (!checkTargetLanguage("listen", options.pipeline.language, err)) return 2;
  auto host = PulseAudioHost::connect();
  if (!host) {
    fmt::print(err, "oskel listen: {}\n", host.error().description());
    return 1;
  }
  return runListenCommand(options, *host, out, err);
}

int runListenCommand(const ListenOptions& options, std::shared_ptr<AudioHost> host, std::ostream& out,
                     std::ostream& err) {
  if (!checkTargetLanguage("listen", options.pipeline.language, err)) return 2;
  const auto fail = [&](const std::string& message) {
    fmt::print(err, "oskel listen: {}\n", message);
    return 1;
  };
  const auto microphone = resolve(*host, options.inputDevice, AudioDevices::Direction::input);
  if (!microphone) return fail(microphone.error());
  const auto speaker = resolve(*host, options.outputDevice, AudioDevices::Direction::output);
  if (!speaker) return fail(speaker.error());
  auto endpoints = RealEndpoints::make(host, std::dynamic_pointer_cast<EchoCancelHost>(host), *microphone,
                                       *speaker, options.echoCancellation);
  if (!endpoints) return fail(endpoints.error().description());
  const auto voiceProcessing = endpoints->voiceProcessing;
  // However the command ends, the canceller goes with it.
  const std::unique_ptr<VoiceProcessingIO, void (*)(VoiceProcessingIO*)> closer(
      voiceProcessing.get(), [](VoiceProcessingIO* io) {
        if (io) io->close();
      });

  auto run = PipelineRun::start(options.pipeline, endpoints->input, endpoints->output, out, err);
  if (!run) return run.error();
  fmt::print(out, "Listening on {}, playing on {}{}\n", microphone->name, speaker->name,
             options.seconds ? fmt::format(" for {}s", *options.seconds) : std::string("; Ctrl-C stops"));
  if (voiceProcessing) {
    fmt::print(out, "Echo cancellation: the audio server's echo canceller, between {} and {}\n", microphone->name,
               speaker->name);
  } else if (options.echoCancellation) {
    fmt::print(out, "Echo cancellation: skipped, plain capture and playback\n");
  }
  out.flush();

  const auto started = std::chrono::steady_clock::now();
  (*run)->wait([&] {
    return options.seconds &&
           std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >= *options.seconds;
  });
  return (*run)->finish(out, err);
}

}  // namespace oskel
