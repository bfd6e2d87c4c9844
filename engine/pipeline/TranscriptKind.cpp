#include "pipeline/TranscriptKind.h"

namespace oskel {

std::string_view rawValue(TranscriptKind kind) { return kind == TranscriptKind::heard ? "heard" : "said"; }

std::optional<TranscriptKind> transcriptKindFromRaw(std::string_view raw) {
  if (raw == "heard") return TranscriptKind::heard;
  if (raw == "said") return TranscriptKind::said;
  return std::nullopt;
}

}  // namespace oskel
