#include "service/RealtimeProtocol.h"

#include <algorithm>

#include <boost/json.hpp>

#include "service/Base64.h"

namespace oskel::RealtimeProtocol {

namespace json = boost::json;

namespace {

// Expiries are clamped to about 127 years either side of 1970: far enough
// away to mean "not during this session", and near enough that the time left
// (expiry minus now) still fits the system clock's 64-bit nanoseconds.
constexpr double maxExpirySeconds = 4.0e9;

const json::string* stringMember(const json::object& object, std::string_view key) {
  const auto* value = object.if_contains(key);
  return value ? value->if_string() : nullptr;
}

std::optional<std::string> deltaOf(const json::object& object) {
  if (const auto* delta = stringMember(object, "delta")) return std::string(*delta);
  return std::nullopt;
}

std::optional<std::chrono::system_clock::time_point> expiryOf(const json::value& value) {
  double seconds = 0.0;
  if (const auto* d = value.if_double())
    seconds = *d;
  else if (const auto* i = value.if_int64())
    seconds = static_cast<double>(*i);
  else if (const auto* u = value.if_uint64())
    seconds = static_cast<double>(*u);
  else
    return std::nullopt;
  seconds = std::clamp(seconds, -maxExpirySeconds, maxExpirySeconds);
  return std::chrono::system_clock::time_point(
      std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::duration<double>(seconds)));
}

Incoming::Created createdOf(const json::object& message) {
  Incoming::Created created{"?", std::nullopt};
  const auto* sessionValue = message.if_contains("session");
  const auto* session = sessionValue ? sessionValue->if_object() : nullptr;
  if (!session) return created;
  if (const auto* id = stringMember(*session, "id")) created.sessionID = std::string(*id);
  if (const auto* expires = session->if_contains("expires_at")) created.expiresAt = expiryOf(*expires);
  return created;
}

Incoming::Error errorOf(const json::object& message) {
  if (const auto* errorValue = message.if_contains("error"))
    if (const auto* error = errorValue->if_object())
      if (const auto* text = stringMember(*error, "message")) return {std::string(*text)};
  return {json::serialize(message)};
}

Message messageOf(std::string_view type, const json::object& object) {
  if (type == "session.created") return createdOf(object);
  if (type == "session.updated") return Incoming::Updated{};
  if (type == "session.output_audio.delta") {
    const auto* delta = stringMember(object, "delta");
    if (!delta) return Incoming::Ignored{};
    auto bytes = Base64::decode(std::string_view(delta->data(), delta->size()));
    if (!bytes || bytes->empty()) return Incoming::Ignored{};
    return Incoming::OutputAudioDelta{std::move(*bytes)};
  }
  if (type == "session.output_transcript.delta") {
    if (auto delta = deltaOf(object)) return Incoming::OutputTranscriptDelta{std::move(*delta)};
    return Incoming::Ignored{};
  }
  if (type == "session.input_transcript.delta") {
    if (auto delta = deltaOf(object)) return Incoming::InputTranscriptDelta{std::move(*delta)};
    return Incoming::Ignored{};
  }
  if (type == "session.closed") return Incoming::Closed{};
  if (type == "error") return errorOf(object);
  return Incoming::Unhandled{std::string(type)};
}

}  // namespace

std::string sessionUpdate(const TranslationOptions& options) {
  json::object input;
  if (options.noiseReduction)
    input["noise_reduction"] = json::object{{"type", *options.noiseReduction}};
  else
    input["noise_reduction"] = nullptr;
  if (options.transcribeInput) input["transcription"] = json::object{{"model", "gpt-realtime-whisper"}};

  json::object audio;
  audio["input"] = std::move(input);
  audio["output"] = json::object{{"language", options.targetLanguage}};

  json::object message;
  message["type"] = "session.update";
  message["session"] = json::object{{"audio", std::move(audio)}};
  return json::serialize(message);
}

std::string appendAudio(std::span<const uint8_t> pcm16) {
  // Written directly, in one allocation: base64 text needs no escaping, and
  // this message goes out ten times a second per direction.
  constexpr std::string_view head = R"({"type":"session.input_audio_buffer.append","audio":")";
  constexpr std::string_view tail = R"("})";
  std::string message(head.size() + Base64::encodedSize(pcm16.size()) + tail.size(), '\0');
  head.copy(message.data(), head.size());
  Base64::encodeInto(pcm16, message.data() + head.size());
  tail.copy(message.data() + message.size() - tail.size(), tail.size());
  return message;
}

std::string sessionClose() { return json::serialize(json::object{{"type", "session.close"}}); }

std::optional<Received> parse(std::string_view bytes) {
  boost::system::error_code error;
  json::value value = json::parse(json::string_view(bytes.data(), bytes.size()), error);
  if (error) return std::nullopt;
  const auto* object = value.if_object();
  if (!object) return std::nullopt;
  const auto* type = stringMember(*object, "type");
  if (!type) return std::nullopt;
  std::string_view typeView(type->data(), type->size());
  return Received{std::string(typeView), messageOf(typeView, *object)};
}

}  // namespace oskel::RealtimeProtocol
