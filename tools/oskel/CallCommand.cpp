#include "CallCommand.h"

#include <chrono>
#include <ostream>

#include <fmt/format.h>
#include <fmt/ostream.h>

#include "CommandSupport.h"
#include "StopSignal.h"
#include "orchestration/Translator.h"
#include "recording/Recordings.h"

namespace oskel {

int runCallCommand(const CallOptions& options, std::ostream& out, std::ostream& err) {
  return onAudioServer("call", err,
                       [&](std::shared_ptr<AudioHost> host) { return runCallCommand(options, std::move(host), out, err); });
}

int runCallCommand(const CallOptions& options, std::shared_ptr<AudioHost> host, std::ostream& out,
                   std::ostream& err) {
  const auto duck = duckLevel(options.voiceOver.duck);
  if (!duck) {
    fmt::print(err, "oskel call: {}\n", duck.error());
    return 2;
  }
  StopSignal::install();
  auto run = OrchestratorRun::open("call", options.interpreter, std::move(host), out, err);
  if (!run) return run.error();

  TranslatorConfig config((*run)->credential(), options.interpreter.me, options.interpreter.them);
  config.microphone = (*run)->microphone();
  config.speaker = (*run)->speaker();
  if (options.voiceOver.enabled)
    config.voiceOver =
        TranslatorConfig::VoiceOver{options.voiceOver.idleDB, *duck, TranslatorConfig::VoiceOver::Directions::both};
  config.echoCancellation = options.echoCancellation;
  if (options.room) config.noiseReduction = "far_field";
  config.groupCall = options.group;

  auto made = Translator::make(std::move(config), (*run)->environment());
  if (!made) {
    const auto code = (*run)->fail(made.error().description());
    if (made.error().translator &&
        std::holds_alternative<TranslatorError::DriverMissing>(made.error().translator->value))
      fmt::print(err, "Add them with: oskel devices --install-loopback\n");
    return code;
  }
  auto translator = *made;
  translator->setOnEvent([raw = run->get()](const TranslatorEvent& event) { raw->handle(event); });
  fmt::print(out, "{}\n", translator->summary());
  out.flush();
  if (auto started = translator->start(); !started) {
    translator->stop(true, {});
    return (*run)->fail(started.error().description());
  }
  if (options.record) {
    const auto path = options.record->empty()
                          ? Recordings::newFileURL(options.interpreter.me, options.interpreter.them,
                                                   std::chrono::system_clock::now())
                          : std::filesystem::path(*options.record);
    if (auto recording = translator->startRecording(path); !recording)
      fmt::print(err, "oskel call: could not start recording: {}\n", recording.error());
    else
      fmt::print(out, "recording to {}\n", path.string());
  }

  (*run)->wait();
  std::optional<CallRecorder::Result> recorded = translator->stopRecording();
  const int status = (*run)->finish([&](bool fast, std::function<void()> done) { translator->stop(fast, done); });
  if (recorded) fmt::print(out, "Recorded {:.1f}s to {}\n", recorded->duration, recorded->url.string());
  fmt::print(out, "you spoke {:.1f}s, they spoke {:.1f}s, {:.1f}s translated\n", translator->speechSeconds(),
             translator->theirSpeechSeconds(), translator->translatedSeconds());
  translator->setOnEvent({});
  return status;
}

}  // namespace oskel
