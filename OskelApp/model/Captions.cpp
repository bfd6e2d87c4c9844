#include "Captions.h"

#include <atomic>
#include <iterator>

namespace oskel {

namespace {
std::uint64_t nextCaptionId() {
  static std::atomic<std::uint64_t> next{1};
  return next.fetch_add(1, std::memory_order_relaxed);
}
}  // namespace

bool CaptionList::append(const TranscriptFragment& fragment, Clock::TimePoint now) {
  const auto fresh = [&](const Caption& line) {
    return line.direction == fragment.direction && secondsBetween(line.updated, now) < joinSeconds;
  };
  // The last line, else the one before it: two people talking over each
  // other each keep their own line.
  Caption* target = nullptr;
  for (auto line = lines_.rbegin(); line != lines_.rend() && std::distance(lines_.rbegin(), line) < 2; ++line)
    if (fresh(*line)) {
      target = &*line;
      break;
    }
  if (target) {
    (fragment.kind == TranscriptKind::heard ? target->heard : target->said) += fragment.text;
    target->updated = now;
    return false;
  }
  Caption line;
  line.id = nextCaptionId();
  line.direction = fragment.direction;
  line.updated = now;
  (fragment.kind == TranscriptKind::heard ? line.heard : line.said) = fragment.text;
  lines_.push_back(std::move(line));
  while (lines_.size() > maxLines) lines_.pop_front();
  return true;
}

}  // namespace oskel
