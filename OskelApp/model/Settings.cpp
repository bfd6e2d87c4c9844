#include "Settings.h"

#include <algorithm>
#include <cctype>
#include <cmath>

#include <boost/json.hpp>

#include "service/TranslationOptions.h"

namespace oskel {
namespace json = boost::json;

namespace {

const json::value* field(const json::object& object, std::string_view key) {
  return object.if_contains(json::string_view(key.data(), key.size()));
}

bool readText(const json::object& object, std::string_view key, std::string& out) {
  const auto* value = field(object, key);
  if (!value || !value->is_string()) return false;
  out = std::string(value->get_string());
  return true;
}

bool readBool(const json::object& object, std::string_view key, bool& out) {
  const auto* value = field(object, key);
  if (!value || !value->is_bool()) return false;
  out = value->get_bool();
  return true;
}

bool readNumber(const json::object& object, std::string_view key, double& out) {
  const auto* value = field(object, key);
  if (!value || !value->is_number()) return false;
  json::error_code error;
  out = value->to_number<double>(error);
  return !error;
}

// Optional fields: missing or null is absent; any other type is an error.
template <typename T, typename Read>
bool readOptional(const json::object& object, std::string_view key, std::optional<T>& out, Read read) {
  const auto* value = field(object, key);
  if (!value || value->is_null()) {
    out.reset();
    return true;
  }
  T parsed{};
  if (!read(object, key, parsed)) return false;
  out = std::move(parsed);
  return true;
}

// A stored level outside what the sliders offer is brought back into range:
// a hand-edited +300 dB must not blast the original voice into a call. Kept
// to 0.01 dB so that every stored value reads back exactly.
bool readLevel(const json::object& object, std::string_view key, double& out) {
  // The parser reads "0e600" as not-a-number; such a document is corrupt.
  if (!readNumber(object, key, out) || std::isnan(out)) return false;
  out = std::round(std::clamp(out, AppSettings::lowestLevelDB, 0.0) * 100.0) / 100.0;
  return true;
}

std::string flag(bool value) { return value ? "true" : "false"; }

}  // namespace

AppSettings AppSettings::defaults(std::string_view systemLanguage) {
  AppSettings settings;
  const auto& supported = TranslationOptions::supportedOutputLanguages();
  const std::string code(systemLanguage);
  settings.myLanguage = supported.contains(code) ? code : "en";
  settings.theirLanguage = settings.myLanguage == "en" ? "es" : "en";
  return settings;
}

std::optional<AppSettings> AppSettings::decode(std::string_view text) {
  json::error_code error;
  const json::value value = json::parse(json::string_view(text.data(), text.size()), error);
  if (error || !value.is_object()) return std::nullopt;
  const auto& object = value.get_object();
  AppSettings s;
  const bool complete =
      readText(object, "myLanguage", s.myLanguage) && readText(object, "theirLanguage", s.theirLanguage) &&
      readOptional(object, "microphoneUID", s.microphoneUID, readText) &&
      readOptional(object, "speakerUID", s.speakerUID, readText) && readBool(object, "voiceOver", s.voiceOver) &&
      readLevel(object, "voiceOverLevel", s.voiceOverLevel) && readBool(object, "ducking", s.ducking) &&
      readLevel(object, "duckLevel", s.duckLevel) && readBool(object, "echoCancellation", s.echoCancellation) &&
      readBool(object, "captions", s.captions) && readText(object, "noiseReduction", s.noiseReduction) &&
      readBool(object, "roomMicrophone", s.roomMicrophone) &&
      readOptional(object, "groupCallOption", s.groupCallOption, readBool);
  if (!complete) return std::nullopt;
  return s;
}

std::string AppSettings::encode() const {
  json::object object;
  object["myLanguage"] = myLanguage;
  object["theirLanguage"] = theirLanguage;
  if (microphoneUID) object["microphoneUID"] = *microphoneUID;
  if (speakerUID) object["speakerUID"] = *speakerUID;
  object["voiceOver"] = voiceOver;
  object["voiceOverLevel"] = voiceOverLevel;
  object["ducking"] = ducking;
  object["duckLevel"] = duckLevel;
  object["echoCancellation"] = echoCancellation;
  object["captions"] = captions;
  object["noiseReduction"] = noiseReduction;
  object["roomMicrophone"] = roomMicrophone;
  if (groupCallOption) object["groupCallOption"] = *groupCallOption;
  return json::serialize(object);
}

std::vector<std::string> AppSettings::sessionSignature() const {
  return {myLanguage,
          theirLanguage,
          microphoneUID.value_or(""),
          speakerUID.value_or(""),
          flag(voiceOver),
          flag(voiceOver && ducking),
          flag(echoCancellation),
          flag(captions),
          noiseReduction,
          flag(roomMicrophone),
          flag(groupCall())};
}

std::string languageCodeOfLocale(std::string_view locale) {
  const auto end = locale.find_first_of("_-.@");
  std::string code(locale.substr(0, end));
  std::ranges::transform(code, code.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (code == "c" || code == "posix") return {};
  return code;
}

}  // namespace oskel
