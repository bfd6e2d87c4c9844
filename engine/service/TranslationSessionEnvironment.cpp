// The shipped collaborators of a translation session, kept apart so that
// programs which inject their own do not link the network stack.
#include "service/TranslationSession.h"

namespace oskel {

TranslationSession::Environment TranslationSession::Environment::live() {
  return {Clock::system(), defaultWebSocketClient(),
          [](const std::string& apiKey, double timeoutSeconds, std::function<void(OpenAIAuth::Verdict)> completion) {
            OpenAIAuth::check(apiKey, timeoutSeconds, std::move(completion));
          }};
}

}  // namespace oskel
