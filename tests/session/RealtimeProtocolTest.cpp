#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <tuple>

#include "service/Base64.h"
#include "service/RealtimeProtocol.h"

namespace oskel {
namespace {

namespace In = RealtimeProtocol::Incoming;
using RealtimeProtocol::parse;

template <class T>
T parsedAs(std::string_view text) {
  auto received = parse(text);
  EXPECT_TRUE(received.has_value()) << text;
  if (!received) return T{};
  EXPECT_TRUE(std::holds_alternative<T>(received->message)) << text;
  auto* value = std::get_if<T>(&received->message);
  return value ? *value : T{};
}

TEST(RealtimeProtocolOutgoing, Documents) {
  EXPECT_EQ(RealtimeProtocol::sessionUpdate(TranslationOptions("es")),
            R"({"type":"session.update","session":{"audio":{"input":{"noise_reduction":{"type":"near_field"},)"
            R"("transcription":{"model":"gpt-realtime-whisper"}},"output":{"language":"es"}}}})");
  // No noise reduction is an explicit null; no transcription leaves the member out.
  EXPECT_EQ(RealtimeProtocol::sessionUpdate(TranslationOptions("ja", false, std::nullopt, "m")),
            R"({"type":"session.update","session":{"audio":{"input":{"noise_reduction":null},)"
            R"("output":{"language":"ja"}}}})");
  EXPECT_EQ(RealtimeProtocol::sessionUpdate(TranslationOptions("de", true, "far_field", "m")),
            R"({"type":"session.update","session":{"audio":{"input":{"noise_reduction":{"type":"far_field"},)"
            R"("transcription":{"model":"gpt-realtime-whisper"}},"output":{"language":"de"}}}})");

  const std::vector<uint8_t> block{0x00, 0x01, 0x02, 0x03, 0xff};
  EXPECT_EQ(RealtimeProtocol::appendAudio(block), R"({"type":"session.input_audio_buffer.append","audio":"AAECA/8="})");
  EXPECT_EQ(RealtimeProtocol::sessionClose(), R"({"type":"session.close"})");
}

TEST(Base64, KnownVectorsEverySizeRoundTripsAndOnlyStrictTextDecodes) {
  const std::pair<std::string, std::string> vectors[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="},
      {"foobar", "Zm9vYmFy"},
      {"\xfb\xff", "+/8="},
  };
  for (const auto& [plain, encoded] : vectors) {
    const std::vector<uint8_t> bytes(plain.begin(), plain.end());
    EXPECT_EQ(Base64::encode(bytes), encoded);
    EXPECT_EQ(Base64::decode(encoded), bytes) << encoded;
  }
  // Every size around the group boundaries round-trips.
  std::mt19937 rng(7);
  for (std::size_t size : {1u, 2u, 3u, 4u, 5u, 6u, 7u, 4799u, 4800u, 4801u, 65537u}) {
    std::vector<uint8_t> bytes(size);
    for (auto& byte : bytes) byte = static_cast<uint8_t>(rng());
    const auto text = Base64::encode(bytes);
    EXPECT_EQ(text.size(), Base64::encodedSize(size));
    EXPECT_EQ(text.find('\n'), std::string::npos);
    EXPECT_EQ(Base64::decode(text), bytes) << size;
  }
  // Anything but strict, unbroken, padded text is refused.
  for (const char* bad :
       {"Zg=", "Zg", "Z===", "====", "Zm9v\n", "Zm 9v", "Zm9v Yg==", "Zg==Zg==", "Z=g=", "Zm-v", "Zm_v", "Zm9\x80"})
    EXPECT_FALSE(Base64::decode(bad).has_value()) << bad;
}

// Missing or mistyped members fall back instead of dropping the message.
TEST(RealtimeProtocolIncoming, SessionCreated) {
  using std::chrono::milliseconds;
  const std::tuple<const char*, const char*, std::optional<milliseconds>> cases[] = {
      {R"(,"session":{"id":"sess_1","expires_at":1800})", "sess_1", milliseconds(1800000)},
      {R"(,"session":{"id":"s","expires_at":1.5})", "s", milliseconds(1500)},
      {"", "?", std::nullopt},
      {R"(,"session":"sess")", "?", std::nullopt},
      {R"(,"session":{"id":42,"expires_at":"soon"})", "?", std::nullopt}};
  for (const auto& [members, id, expiresAt] : cases) {
    const auto created = parsedAs<In::Created>(std::string(R"({"type":"session.created")") + members + "}");
    EXPECT_EQ(created.sessionID, id) << members;
    EXPECT_EQ(created.expiresAt.transform([](auto at) { return at.time_since_epoch(); }), expiresAt) << members;
  }

  // Absurd expiries stay representable.
  auto created = parsedAs<In::Created>(R"({"type":"session.created","session":{"id":"x","expires_at":1e300}})");
  ASSERT_TRUE(created.expiresAt);
  EXPECT_GT(*created.expiresAt, std::chrono::system_clock::now());
  created = parsedAs<In::Created>(R"({"type":"session.created","session":{"id":"x","expires_at":-1e300}})");
  ASSERT_TRUE(created.expiresAt);
}

// Well-formed deltas and error texts are pinned where the session turns them
// into events; these are the odd shapes.
TEST(RealtimeProtocolIncoming, OddDeltasErrorTextsOtherTypesAndMalformedInput) {
  // Undecodable, missing or mistyped audio raises nothing.
  for (const char* text :
       {R"({"type":"session.output_audio.delta","delta":"not base64!"})", R"({"type":"session.output_audio.delta"})",
        R"({"type":"session.output_audio.delta","delta":12})"})
    parsedAs<In::Ignored>(text);

  // Transcript deltas keep empty text.
  EXPECT_EQ(parsedAs<In::InputTranscriptDelta>(R"({"type":"session.input_transcript.delta","delta":""})").text, "");
  parsedAs<In::Ignored>(R"({"type":"session.input_transcript.delta","delta":null})");
  parsedAs<In::Ignored>(R"({"type":"session.output_transcript.delta"})");

  // Anything but an object with a string message is shown whole.
  const auto whole = parsedAs<In::Error>(R"({"type":"error","error":"boom"})").text;
  EXPECT_NE(whole.find(R"("error":"boom")"), std::string::npos) << whole;
  EXPECT_NE(whole.find(R"("type":"error")"), std::string::npos) << whole;
  EXPECT_NE(parsedAs<In::Error>(R"({"type":"error","error":{"message":7}})").text.find(R"("message":7)"),
            std::string::npos);
  EXPECT_EQ(parsedAs<In::Error>(R"({"type":"error"})").text, R"({"type":"error"})");

  parsedAs<In::Updated>(R"({"type":"session.updated","session":{}})");
  EXPECT_EQ(parse(R"({"type":"session.updated"})")->type, "session.updated");

  for (const char* text :
       {"", "{", "not json", "[]", R"(["type"])", R"("session.updated")", "42", "null", R"({"kind":"session.updated"})",
        R"({"type":5})", R"({"type":null})", "{\"type\":\"session.updated\"}trailing", "{\"type\":\"\xff\"}"})
    EXPECT_FALSE(parse(text).has_value()) << text;

  // Deep nesting is refused, not recursed into.
  std::string deep = R"({"type":"x","a":)" + std::string(10000, '[') + std::string(10000, ']') + "}";
  EXPECT_FALSE(parse(deep).has_value());
}

}  // namespace
}  // namespace oskel
