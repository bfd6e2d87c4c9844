#pragma once

#include <string>
#include <variant>

namespace oskel {

// Which way the engine reaches the translation service.
struct TranslationCredential {
  // Direct connection with the user's own service API key.
  struct OpenAI {
    std::string apiKey;
    bool operator==(const OpenAI&) const = default;
  };
  // Connection through the relay with the access token the app holds.
  struct Oskel {
    std::string accessToken;
    bool operator==(const Oskel&) const = default;
  };

  std::variant<OpenAI, Oskel> value;

  static TranslationCredential openai(std::string apiKey) { return {OpenAI{std::move(apiKey)}}; }
  static TranslationCredential oskel(std::string accessToken) { return {Oskel{std::move(accessToken)}}; }

  bool isOpenAI() const { return std::holds_alternative<OpenAI>(value); }
  bool operator==(const TranslationCredential&) const = default;
};

}  // namespace oskel
