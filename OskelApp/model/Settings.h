#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace oskel {

// The user's saved choices, stored as one JSON document whose keys are the
// field names. The voice-over levels may change during a session; every
// other field that a session uses is in sessionSignature().
struct AppSettings {
  // Stored levels are kept between this and 0 dB.
  static constexpr double lowestLevelDB = -60.0;

  std::string myLanguage = "en";
  std::string theirLanguage = "es";
  std::optional<std::string> microphoneUID;  // absent: the system default input
  std::optional<std::string> speakerUID;     // absent: the system default output
  bool voiceOver = true;
  double voiceOverLevel = -6.0;  // dB, while no translation plays
  bool ducking = true;
  double duckLevel = -18.0;  // dB, under translated speech
  bool echoCancellation = true;
  bool captions = true;
  std::string noiseReduction = "near_field";  // "off" disables it
  bool roomMicrophone = false;
  std::optional<bool> groupCallOption;

  bool groupCall() const { return groupCallOption.value_or(false); }

  // The defaults for a system whose language code is `systemLanguage`: that
  // language when the service can translate into it, else English; the
  // other side Spanish for English speakers, English for everyone else.
  static AppSettings defaults(std::string_view systemLanguage);

  // Absent when the text is not a document with every required field of the
  // right type (the UIDs and groupCallOption may be missing or null).
  static std::optional<AppSettings> decode(std::string_view json);
  std::string encode() const;

  // Eleven texts that differ exactly when a running session must restart.
  std::vector<std::string> sessionSignature() const;

  bool operator==(const AppSettings&) const = default;
};

// The two-letter code of a locale name such as "de_DE.UTF-8" or "pt-BR";
// empty for "C", "POSIX" and empty text.
std::string languageCodeOfLocale(std::string_view locale);

}  // namespace oskel
