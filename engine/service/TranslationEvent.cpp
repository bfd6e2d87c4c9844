#include "service/TranslationEvent.h"

namespace oskel {

const char* eventName(const TranslationEvent& event) {
  static constexpr const char* names[] = {"connected",   "outputAudio", "outputTranscript", "inputTranscript",
                                          "serverError", "disconnected", "fatal",           "ready",
                                          "signedOut",   "closed"};
  static_assert(std::size(names) == std::variant_size_v<TranslationEvent>);
  return names[event.index()];
}

}  // namespace oskel
