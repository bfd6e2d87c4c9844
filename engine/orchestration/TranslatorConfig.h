#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "audio/AudioDeviceInfo.h"
#include "service/TranslationCredential.h"

namespace oskel {

// What the application asks of an orchestrator: the credential, the two
// languages, the devices and the audio options. A plain value copied into each
// orchestrator; only the constructor's three fields are required.
struct TranslatorConfig {
  // The original voice mixed, lowered, under the translation.
  struct VoiceOver {
    enum class Directions { both, incoming, outgoing };

    double idleDB = 0;                  // level while nothing is being translated
    std::optional<double> duckDB;       // level while translation plays; absent: constant
    Directions directions = Directions::both;  // which pipelines get it

    bool operator==(const VoiceOver&) const = default;
  };

  TranslationCredential credential;
  std::string myLanguage;
  std::string theirLanguage;
  std::optional<AudioDeviceInfo> microphone;  // absent: the system default input at start
  std::optional<AudioDeviceInfo> speaker;     // absent: the system default output at start
  std::string virtualMicrophone = "Oskel Microphone";
  std::string virtualSpeaker = "Oskel Speaker";
  std::optional<VoiceOver> voiceOver;
  bool echoCancellation = true;
  std::optional<std::string> noiseReduction = std::string("near_field");
  std::optional<std::string> incomingNoiseReduction = std::string("far_field");
  bool normalizeIncoming = true;
  bool groupCall = false;
  bool transcribeInput = true;
  bool silenceGate = true;

  TranslatorConfig(TranslationCredential serviceCredential, std::string mine, std::string theirs)
      : credential(std::move(serviceCredential)), myLanguage(std::move(mine)), theirLanguage(std::move(theirs)) {}
  // A direct connection with the user's own service API key.
  static TranslatorConfig withAPIKey(std::string apiKey, std::string mine, std::string theirs) {
    return {TranslationCredential::openai(std::move(apiKey)), std::move(mine), std::move(theirs)};
  }
};

// "both", "incoming", "outgoing"; any other text (case matters) is absent.
std::string_view rawValue(TranslatorConfig::VoiceOver::Directions directions);
std::optional<TranslatorConfig::VoiceOver::Directions> voiceOverDirectionsFromRaw(std::string_view raw);

}  // namespace oskel
