#pragma once

#include <condition_variable>
#include <expected>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "CommandRecording.h"
#include "ServiceChoice.h"
#include "audio/AudioEndpoint.h"
#include "pipeline/InputTap.h"
#include "pipeline/TranslationPipeline.h"

namespace oskel {

// What a command's user chose for its pipeline.
struct PipelineChoices {
  std::string command;                // "translate", for messages
  std::string language;               // --to
  std::optional<std::string> from;    // --from: only names the captions
  std::optional<double> voiceOverDB;  // --voice-over
  std::optional<std::string> duck;    // --duck DB or "off"; absent: -18 dB
  bool normalize = false;             // --normalize
  std::optional<std::string> record;  // --record

  explicit PipelineChoices(std::string commandName) : command(std::move(commandName)) {}
};

// One pipeline run of a command: the service (real or the local emulator),
// the pipeline between the command's endpoints, the optional recording,
// waiting for the command's end condition, Ctrl-C or a session that gave
// up, and the bounded stop.
class PipelineRun {
 public:
  // Builds and starts everything; on failure the message is written to `err`
  // and the exit status returned.
  static std::expected<std::unique_ptr<PipelineRun>, int> start(const PipelineChoices& choices,
                                                                std::shared_ptr<AudioInputEndpoint> input,
                                                                std::shared_ptr<AudioOutputEndpoint> output,
                                                                std::ostream& out, std::ostream& err);
  ~PipelineRun();

  // Returns when `finished()` is true (checked every 20 ms), on Ctrl-C, or
  // when the session gave up or signed out.
  void wait(const std::function<bool()>& finished);
  // Stops with a drain of at most 4 s (0.3 s after Ctrl-C), closes the
  // recording and returns the exit status: 0, 1 when the session gave up,
  // 130 after Ctrl-C.
  int finish(std::ostream& out, std::ostream& err);

  TranslationPipeline& pipeline() { return *pipeline_; }

 private:
  // Shared with the pipeline's callbacks, which may run on a session's
  // queue after this object is gone.
  struct State {
    std::mutex mutex;
    std::condition_variable changed;
    std::optional<std::string> failure;
    bool stopped = false;
  };

  PipelineRun(PipelineChoices choices, ServiceChoice service, std::shared_ptr<TranslationPipeline> pipeline);
  void stop(double sessionTimeout);

  const PipelineChoices choices_;
  const ServiceChoice service_;  // keeps the emulator while the pipeline runs
  std::shared_ptr<TranslationPipeline> pipeline_;
  std::unique_ptr<CommandRecording> recording_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
  bool interrupted_ = false;
  bool stopped_ = false;
};

}  // namespace oskel
