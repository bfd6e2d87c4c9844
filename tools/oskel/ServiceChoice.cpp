#include "ServiceChoice.h"

#include <cstdlib>

#include "emulator/ServiceEmulator.h"
#include "log/Log.h"

namespace oskel {

namespace {

std::string environmentValue(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

}  // namespace

std::expected<ServiceChoice, std::string> chooseService() {
  if (auto key = environmentValue("OPENAI_API_KEY"); !key.empty())
    return ServiceChoice{TranslationCredential::openai(std::move(key)), TranslationSession::Environment::live(), {},
                         {}};
  if (auto token = environmentValue("OSKEL_TOKEN"); !token.empty())
    return ServiceChoice{TranslationCredential::oskel(std::move(token)), TranslationSession::Environment::live(), {},
                         {}};

  emulator::ServiceEmulator::Config config;
  config.log = [](const std::string& line) { Log::debug([&] { return "emulator: " + line; }); };
  auto started = emulator::ServiceEmulator::start(std::move(config));
  if (!started) return std::unexpected("cannot start the local service emulator: " + started.error());
  std::shared_ptr<emulator::ServiceEmulator> emulator = std::move(*started);
  // The direct path, pointed at the emulator for the rest of the process.
  setenv("OSKEL_OPENAI_API", emulator->httpOrigin().c_str(), 1);
  return ServiceChoice{TranslationCredential::openai("local-emulator"), TranslationSession::Environment::live(),
                       "Neither OPENAI_API_KEY nor OSKEL_TOKEN is set: using the local service emulator at " +
                           emulator->httpOrigin() + ", which plays the speech back untranslated.",
                       emulator};
}

}  // namespace oskel
