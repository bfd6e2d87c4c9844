#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "pipeline/TranslationPipeline.h"

namespace oskel {

// Runs one pipeline for a command: starts it, waits until the command's own
// end condition, Ctrl-C or a session that gave up, and stops it with a
// bounded drain.
class PipelineRun {
 public:
  explicit PipelineRun(std::shared_ptr<TranslationPipeline> pipeline);

  // The endpoints' start error, described.
  std::optional<std::string> start();
  // Returns when `finished()` is true (checked every 20 ms), on Ctrl-C, or
  // when the session gave up or signed out.
  void wait(const std::function<bool()>& finished);
  // Stops and waits for the drain (at most `sessionTimeout` seconds).
  void stop(double sessionTimeout);

  // Why the run ended early, if a session gave up or signed out.
  std::optional<std::string> failure() const;
  bool interrupted() const { return interrupted_; }
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
  std::shared_ptr<TranslationPipeline> pipeline_;
  std::shared_ptr<State> state_ = std::make_shared<State>();
  bool interrupted_ = false;
};

}  // namespace oskel
