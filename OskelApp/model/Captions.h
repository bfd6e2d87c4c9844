#pragma once

#include <cstdint>
#include <deque>

#include "concurrency/Clock.h"
#include "orchestration/TranslatorVocabulary.h"

namespace oskel {

// One line of the live captions: what one side said and its translation.
struct Caption {
  std::uint64_t id = 0;  // unique within the process
  CallDirection direction = CallDirection::outgoing;
  std::string heard;  // the original speech
  std::string said;   // the translation
  Clock::TimePoint updated;

  bool operator==(const Caption&) const = default;
};

// The caption list: fragments join the latest line of their direction while
// it is fresh, so two people talking over each other keep one line each.
class CaptionList {
 public:
  static constexpr double joinSeconds = 3.0;
  static constexpr size_t maxLines = 200;

  // True when the fragment started a new line.
  bool append(const TranscriptFragment& fragment, Clock::TimePoint now);
  void clear() { lines_.clear(); }
  const std::deque<Caption>& lines() const { return lines_; }

 private:
  std::deque<Caption> lines_;
};

}  // namespace oskel
