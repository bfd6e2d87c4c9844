#pragma once

#include <string>
#include <vector>

#include "ViewState.h"

// Captions as files people keep: plain text, or SubRip subtitles timed from
// the first line.
namespace oskel::views {

// One paragraph per line: "Me:"/"Them:", then what was heard and what was said.
std::string captionsAsText(const std::vector<CaptionLine>& captions);

// Numbered cues "HH:MM:SS,mmm --> HH:MM:SS,mmm"; a cue lasts until the next
// one begins, the last one 3 seconds.
std::string captionsAsSrt(const std::vector<CaptionLine>& captions);

}  // namespace oskel::views
