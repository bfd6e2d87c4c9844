#include "pipeline/InputTap.h"

namespace oskel {

InputTap::InputTap(std::shared_ptr<AudioInputEndpoint> source) : source_(std::move(source)) {
  source_->setOnFrames([this](std::span<const float> frames) {
    if (observer_) observer_(frames);
    if (onFrames_) onFrames_(frames);
  });
}

InputTap::~InputTap() {
  source_->stop();
  source_->setOnFrames({});
}

}  // namespace oskel
