#pragma once

#include <expected>
#include <memory>
#include <string>

#include "service/TranslationCredential.h"
#include "service/TranslationSession.h"

namespace oskel {

// Which translation service a command talks to: the real one when the
// environment holds a credential (OPENAI_API_KEY for a direct connection,
// else OSKEL_TOKEN for the relay), otherwise the local emulator.
struct ServiceChoice {
  TranslationCredential credential;
  TranslationSession::Environment environment;
  std::string description;        // one line for the user, or empty
  std::shared_ptr<void> keepAlive;  // whatever serves the sessions (the emulator)
};

std::expected<ServiceChoice, std::string> chooseService();

}  // namespace oskel
