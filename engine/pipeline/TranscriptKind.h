#pragma once

#include <optional>
#include <string_view>

namespace oskel {

// Which transcript a fragment belongs to: `heard` is the original speech
// that entered a pipeline, `said` the translation it plays.
enum class TranscriptKind { heard, said };
std::string_view rawValue(TranscriptKind kind);
std::optional<TranscriptKind> transcriptKindFromRaw(std::string_view raw);

}  // namespace oskel
