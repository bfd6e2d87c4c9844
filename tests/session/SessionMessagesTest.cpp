// How a session turns received messages into events and log lines.
#include <gtest/gtest.h>

#include "service/RealtimeProtocol.h"
#include "session/SessionHarness.h"

namespace oskel::test {
namespace {

using namespace TranslationEvents;

TEST(SessionMessages, CreatedConfiguresOnlyTheDirectPathAndReadyComesOncePerConnection) {
  SessionHarness direct(TranslationCredential::openai("sk-test"), TranslationOptions("es", false, std::nullopt, "m"));
  direct.start();
  auto connection = direct.client->last();
  EXPECT_EQ(connection->maxMessageBytes(), 4194304u);
  EXPECT_TRUE(direct.log.contains("INFO  [en→es] connecting (start) -> es"));
  direct.created(*connection, "sess_1", 1800.0);
  ASSERT_EQ(connection->sent().size(), 1u);
  EXPECT_EQ(connection->sent()[0], RealtimeProtocol::sessionUpdate(TranslationOptions("es", false, std::nullopt, "m")));
  EXPECT_TRUE(direct.log.contains("INFO  [en→es] session sess_1 created (expires in 30 min)"));
  const auto expected = Connected{"sess_1", direct.clock->wallNow() + std::chrono::seconds(1800)};
  ASSERT_EQ(direct.events().size(), 1u);
  EXPECT_EQ(direct.events()[0], TranslationEvent(expected));
  // Configured once per connection, not again on a repeated announcement.
  direct.created(*connection, "sess_1", 1799.0);
  EXPECT_EQ(connection->sent().size(), 1u);
  EXPECT_EQ(direct.log.count("created (expires in 30 min)"), 2u);

  // The relay path: ready once per connection; audio goes only to a ready live
  // connection, and is copied.
  SessionHarness relay;
  relay.start();
  auto c = relay.client->last();
  relay.append({9, 9});  // not ready yet: dropped
  relay.created(*c, "sess_r", std::nullopt);
  EXPECT_TRUE(c->sent().empty());
  EXPECT_TRUE(relay.log.contains("session sess_r created (expires in unknown)"));
  relay.append({9, 9});
  relay.updated(*c);
  relay.updated(*c);
  EXPECT_EQ(relay.eventNames(), (std::vector<std::string>{"connected", "ready"}));
  EXPECT_EQ(relay.log.count("session sess_r ready"), 1u);
  std::vector<uint8_t> buffer{1, 2, 3};
  relay.session->appendAudio(buffer);
  buffer.assign({7, 7, 7});  // the caller reuses its buffer at once
  relay.session->appendAudio(std::vector<uint8_t>{});
  relay.settle();
  EXPECT_EQ(c->appendedAudio(), (std::vector<std::vector<uint8_t>>{{1, 2, 3}}));
}

TEST(SessionMessages, OutputTranscriptsErrorsAndUnhandledTypes) {
  SessionHarness h;
  auto c = h.startLive();
  h.clearEvents();
  h.receive(*c, R"({"type":"session.output_audio.delta","delta":"AAECAw=="})");
  h.receive(*c, R"({"type":"session.output_audio.delta","delta":""})");
  h.receive(*c, R"({"type":"session.output_transcript.delta","delta":""})");
  h.receive(*c, R"({"type":"session.input_transcript.delta","delta":"hello"})");
  h.receive(*c, R"({"type":"session.input_transcript.delta"})");
  h.receive(*c, R"({"type":"error","error":{"message":"slow down"}})");
  h.receive(*c, "[1,2]");
  h.receive(*c, "{garbage");
  EXPECT_EQ(h.events(), (std::vector<TranslationEvent>{OutputAudio{{0, 1, 2, 3}}, OutputTranscript{""},
                                                       InputTranscript{"hello"}, ServerError{"slow down"}}));
  EXPECT_TRUE(h.log.contains("ERROR [en→es] server error: slow down"));
  // The connection stays in use after a server error.
  h.append({1, 2});
  EXPECT_EQ(c->appendedAudio().size(), 1u);

  // Unhandled types are only logged when verbose.
  h.receive(*c, R"({"type":"rate_limits.updated"})");
  EXPECT_FALSE(h.log.contains("unhandled event"));
  Log::setVerbose(true);
  h.receive(*c, R"({"type":"rate_limits.updated"})");
  Log::setVerbose(false);
  EXPECT_TRUE(h.log.contains("DEBUG [en→es] unhandled event rate_limits.updated"));
}

}  // namespace
}  // namespace oskel::test
