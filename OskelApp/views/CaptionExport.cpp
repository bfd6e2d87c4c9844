#include "CaptionExport.h"

#include <fmt/format.h>

namespace oskel::views {

namespace {

std::string speaker(const CaptionLine& line) { return line.direction == CallDirection::incoming ? "Them" : "Me"; }

std::string body(const CaptionLine& line) {
  std::string text = line.heard;
  if (!line.said.empty()) text += (text.empty() ? "" : "\n") + line.said;
  return text;
}

std::string stamp(std::chrono::milliseconds t) {
  const auto ms = std::max<std::int64_t>(0, t.count());
  return fmt::format("{:02}:{:02}:{:02},{:03}", ms / 3'600'000, ms / 60'000 % 60, ms / 1000 % 60, ms % 1000);
}

}  // namespace

std::string captionsAsText(const std::vector<CaptionLine>& captions) {
  std::string text;
  for (const auto& line : captions) text += fmt::format("{}:\n{}\n\n", speaker(line), body(line));
  return text;
}

std::string captionsAsSrt(const std::vector<CaptionLine>& captions) {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  std::string srt;
  if (captions.empty()) return srt;
  const auto origin = captions.front().at;
  for (std::size_t i = 0; i < captions.size(); ++i) {
    const auto start = duration_cast<milliseconds>(captions[i].at - origin);
    auto end = i + 1 < captions.size() ? duration_cast<milliseconds>(captions[i + 1].at - origin) : start + milliseconds(3000);
    // Lines out of order (a clock change) still give a cue that shows.
    if (end <= start) end = start + milliseconds(1000);
    srt += fmt::format("{}\n{} --> {}\n{}: {}\n\n", i + 1, stamp(start), stamp(end), speaker(captions[i]), body(captions[i]));
  }
  return srt;
}

}  // namespace oskel::views
