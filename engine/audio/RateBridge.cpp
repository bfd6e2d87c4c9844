#include "audio/RateBridge.h"

#include <algorithm>
#include <cstring>

#include "dsp/RealtimeSection.h"

namespace oskel {

RateBridge::RateBridge(double from, double to)
    : resampler_(from, to),
      buffer_(std::make_unique<float[]>(capacity)),
      pullChunk_(std::max<int64_t>(1, static_cast<int64_t>(from / 100.0))),
      pullBuffer_(std::make_unique<float[]>(static_cast<size_t>(pullChunk_))) {}

void RateBridge::convert(std::span<const float> input, const AudioInputEndpoint::FramesCallback& onFrames) {
  realtime::Section section;
  // The largest input run whose output is sure to fit the buffer.
  int64_t run = static_cast<int64_t>(input.size());
  while (run > 1 && resampler_.maxOutput(run) > capacity) run /= 2;
  for (size_t offset = 0; offset < input.size();) {
    const auto n = std::min<int64_t>(run, static_cast<int64_t>(input.size() - offset));
    const int64_t produced = resampler_.process(input.data() + offset, n, buffer_.get(), capacity);
    if (produced > 0 && onFrames) onFrames(std::span<const float>(buffer_.get(), static_cast<size_t>(produced)));
    offset += static_cast<size_t>(n);
  }
}

void RateBridge::pull(float* out, int64_t count, const AudioOutputEndpoint::RenderCallback& render) {
  realtime::Section section;
  while (pendingCount_ < count) {
    const int64_t most = resampler_.maxOutput(pullChunk_);
    if (pendingCount_ + most > capacity) break;
    render(std::span<float>(pullBuffer_.get(), static_cast<size_t>(pullChunk_)));
    pendingCount_ +=
        resampler_.process(pullBuffer_.get(), pullChunk_, buffer_.get() + pendingCount_, capacity - pendingCount_);
  }
  const int64_t k = std::clamp<int64_t>(std::min(count, pendingCount_), 0, count);
  std::memcpy(out, buffer_.get(), static_cast<size_t>(k) * sizeof(float));
  std::fill(out + k, out + count, 0.0f);
  pendingCount_ -= k;
  std::memmove(buffer_.get(), buffer_.get() + k, static_cast<size_t>(pendingCount_) * sizeof(float));
}

}  // namespace oskel
