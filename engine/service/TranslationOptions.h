#pragma once

#include <map>
#include <optional>
#include <string>

namespace oskel {

struct TranslationOptions {
  std::string targetLanguage;
  bool transcribeInput = true;
  std::optional<std::string> noiseReduction = std::string("near_field");
  std::string model = "gpt-realtime-translate";

  TranslationOptions() = default;
  explicit TranslationOptions(std::string target) : targetLanguage(std::move(target)) {}
  TranslationOptions(std::string target, bool transcribe, std::optional<std::string> noise, std::string modelName)
      : targetLanguage(std::move(target)),
        transcribeInput(transcribe),
        noiseReduction(std::move(noise)),
        model(std::move(modelName)) {}

  bool operator==(const TranslationOptions&) const = default;

  // Language code -> English name of every language the service speaks.
  static const std::map<std::string, std::string>& supportedOutputLanguages();
};

}  // namespace oskel
