#pragma once

#include <expected>
#include <iosfwd>
#include <memory>
#include <string>

#include "pipeline/InputTap.h"
#include "pipeline/TranslationPipeline.h"
#include "recording/CallRecorder.h"

namespace oskel {

// `--record FILE.wav` of a command: a stereo recording of one pipeline, left
// what it plays (its output tap), right what it captures (through an input tap).
class CommandRecording {
 public:
  // Creates the file and hooks the taps; call before the pipeline starts.
  static std::expected<std::unique_ptr<CommandRecording>, std::string> start(const std::string& path,
                                                                             TranslationPipeline& pipeline,
                                                                             InputTap& capture);
  // After the pipeline has stopped: closes the file and says where it is.
  void finish(std::ostream& out);

 private:
  explicit CommandRecording(std::shared_ptr<CallRecorder> recorder) : recorder_(std::move(recorder)) {}
  std::shared_ptr<CallRecorder> recorder_;
};

}  // namespace oskel
