#include "dsp/InputNormalizer.h"

#include <algorithm>
#include <cmath>

#include "dsp/PCM16.h"

namespace oskel {

namespace {

constexpr double fallSeconds = 0.05;

float stepFor(double blockSeconds, double timeConstant) {
  return static_cast<float>(1.0 - std::exp(-blockSeconds / timeConstant));
}

}  // namespace

InputNormalizer::InputNormalizer(float targetDBFS, float maxGainDB, float noiseFloorDBFS, double blockSeconds,
                                 Response response)
    : targetDBFS_(targetDBFS),
      maxGainDB_(maxGainDB),
      noiseFloorDBFS_(noiseFloorDBFS),
      envelopeStep_(stepFor(blockSeconds, response == Response::call ? 0.3 : 0.1)),
      riseStep_(stepFor(blockSeconds, response == Response::call ? 0.5 : 0.1)),
      fallStep_(stepFor(blockSeconds, fallSeconds)),
      targetLinear_(std::pow(10.0f, targetDBFS / 20.0f)),
      maxGainLinear_(std::pow(10.0f, maxGainDB / 20.0f)) {}

std::vector<float> InputNormalizer::process(std::vector<float> block) {
  if (block.empty()) return block;
  const float rms = PCM16::rms(block);
  const float level = 20.0f * std::log10(std::max(rms, 1e-9f));
  if (level > noiseFloorDBFS_) {
    envelope_ = envelope_ == 0.0f ? rms : envelope_ + (rms - envelope_) * envelopeStep_;
    const float wanted = std::min(maxGainLinear_, std::max(1.0f, targetLinear_ / std::max(envelope_, 1e-6f)));
    const float step = currentGain_ > wanted ? fallStep_ : riseStep_;
    currentGain_ += (wanted - currentGain_) * step;
  }
  // Below the noise floor the gain is frozen but still applied.
  if (std::fabs(currentGain_ - 1.0f) > 0.001f)
    for (float& x : block) x = std::clamp(x * currentGain_, -1.0f, 1.0f);
  return block;
}

}  // namespace oskel
