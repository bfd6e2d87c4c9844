#include "dsp/Resampler.h"

#include <speex/speex_resampler.h>

#include <cmath>
#include <limits>

#include <fmt/format.h>

#include "log/Log.h"

namespace oskel {

namespace {

// "48000.0", "44100.0001": whole rates keep one decimal.
std::string formatRate(double rate) {
  if (std::isfinite(rate) && rate == std::floor(rate) && std::fabs(rate) < 1e15) return fmt::format("{:.1f}", rate);
  return fmt::format("{}", rate);
}

bool isWholeRate(double rate) {
  return rate > 0 && rate < static_cast<double>(std::numeric_limits<spx_uint32_t>::max()) && rate == std::floor(rate);
}

}  // namespace

struct Resampler::State {
  SpeexResamplerState* speex = nullptr;
  ~State() { speex_resampler_destroy(speex); }
};

Resampler::Resampler(double inputRate, double outputRate)
    : inputRate_(inputRate), outputRate_(outputRate), identity_(inputRate == outputRate) {
  if (identity_) return;
  int error = RESAMPLER_ERR_INVALID_ARG;
  SpeexResamplerState* speex = nullptr;
  if (isWholeRate(inputRate) && isWholeRate(outputRate)) {
    const auto in = static_cast<spx_uint32_t>(inputRate);
    const auto out = static_cast<spx_uint32_t>(outputRate);
    speex = speex_resampler_init(1, in, out, quality, &error);
  } else if (inputRate > 0 && outputRate > 0 && inputRate < 4e6 && outputRate < 4e6) {
    // Fractional rates (a drifting device clock): the ratio in thousandths of
    // a hertz; the rounded rates only set the filter's cut-off.
    const auto num = static_cast<spx_uint32_t>(std::llround(inputRate * 1000.0));
    const auto den = static_cast<spx_uint32_t>(std::llround(outputRate * 1000.0));
    const auto in = static_cast<spx_uint32_t>(std::max(1.0, std::round(inputRate)));
    const auto out = static_cast<spx_uint32_t>(std::max(1.0, std::round(outputRate)));
    speex = speex_resampler_init_frac(1, num, den, in, out, quality, &error);
  }
  if (speex == nullptr) {
    creationError_ = speex_resampler_strerror(error);
    return;
  }
  state_ = std::make_unique<State>();
  state_->speex = speex;
}

Resampler::~Resampler() = default;

void Resampler::warn(const std::string& reason) const {
  Log::warn([&] {
    return "resampler " + formatRate(inputRate_) + "->" + formatRate(outputRate_) + " failed: " +
           (reason.empty() ? std::string("unknown error") : reason);
  });
}

std::vector<float> Resampler::process(std::span<const float> input) {
  if (identity_ || input.empty()) return {input.begin(), input.end()};
  return convert(input);
}

std::vector<float> Resampler::process(std::vector<float>&& input) {
  if (identity_ || input.empty()) return std::move(input);
  return convert(input);
}

std::vector<float> Resampler::convert(std::span<const float> input) {
  if (!state_) {
    warn(creationError_);
    return {};
  }
  if (input.size() > std::numeric_limits<spx_uint32_t>::max() / 2) {
    warn("block too long");
    return {};
  }
  const auto n = static_cast<double>(input.size());
  std::vector<float> output(static_cast<size_t>(n * outputRate_ / inputRate_) + 256);
  size_t consumed = 0;
  size_t produced = 0;
  // One call normally takes the whole block; the loop only matters if the
  // estimate above was short.
  while (consumed < input.size()) {
    if (produced == output.size()) output.resize(output.size() * 2);
    auto inLength = static_cast<spx_uint32_t>(input.size() - consumed);
    auto outLength = static_cast<spx_uint32_t>(output.size() - produced);
    const int error = speex_resampler_process_float(state_->speex, 0, input.data() + consumed, &inLength,
                                                    output.data() + produced, &outLength);
    if (error != RESAMPLER_ERR_SUCCESS) {
      warn(speex_resampler_strerror(error));
      return {};
    }
    if (inLength == 0 && outLength == 0) {
      warn("no progress");
      return {};
    }
    consumed += inLength;
    produced += outLength;
  }
  output.resize(produced);
  return output;
}

int64_t Resampler::delay() const {
  return state_ ? speex_resampler_get_output_latency(state_->speex) : 0;
}

}  // namespace oskel
