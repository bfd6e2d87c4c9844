#include "CommandRecording.h"

#include <ostream>

#include <fmt/format.h>
#include <fmt/ostream.h>

namespace oskel {

std::expected<std::unique_ptr<CommandRecording>, std::string> CommandRecording::start(const std::string& path,
                                                                                      TranslationPipeline& pipeline,
                                                                                      InputTap& capture) {
  auto created = CallRecorder::create(path, pipeline.outputSampleRate(), capture.sampleRate());
  if (!created) return std::unexpected(created.error().description());
  std::shared_ptr<CallRecorder> recorder = std::move(*created);
  pipeline.setOutputTap([recorder](std::span<const float> block) { recorder->writeLeft(block); });
  capture.setObserver([recorder](std::span<const float> frames) { recorder->writeRight(frames); });
  return std::unique_ptr<CommandRecording>(new CommandRecording(std::move(recorder)));
}

void CommandRecording::finish(std::ostream& out) {
  const auto result = recorder_->stop();
  fmt::print(out, "Recorded {:.1f}s to {}\n", result.duration, result.url.string());
}

}  // namespace oskel
