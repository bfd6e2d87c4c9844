// The emulator's scriptable behaviours that no client suite exercises; its
// plain direct path is covered by the WebSocket, session and command suites.
#include <gtest/gtest.h>

#include <boost/json/parse.hpp>
#include <boost/json/value.hpp>

#include "NetworkProbe.h"
#include "emulator/ServiceEmulator.h"
#include "service/WebSocket.h"

using namespace oskel;
using namespace oskel::emulator;
using namespace oskel::test;

namespace {

ProbedConnection relay(const ServiceEmulator& emulator) {
  HttpRequest request;
  request.url = emulator.websocketOrigin() + "/v1/translate?to=de&transcribe=1&token=tok-1&noise=near_field";
  request.headers = {{"Authorization", "Bearer tok-1"}};
  return open(request);
}

const std::string sessionClose = R"({"type":"session.close"})";

boost::json::value parsed(const std::string& message) { return boost::json::parse(message); }
std::string stringAt(const std::string& message, const char* pointer) {
  return std::string(parsed(message).at_pointer(pointer).as_string());
}

}  // namespace

TEST(ServiceEmulator, RelayPathConfiguresItselfFromTheQueryAndExpiriesAreScripted) {
  auto emulator = startEmulator();
  ConnectionScript script;
  script.updatedDelay = Milliseconds(30);
  script.expiresIn.reset();
  emulator->setScript(script);
  auto client = relay(*emulator);
  ASSERT_TRUE(client.probe.waitForType("session.updated"));
  client.connection->sendText(append100ms);
  ASSERT_TRUE(client.probe.waitForMessages(5));
  EXPECT_EQ(stringAt(client.probe.messages()[4], "/delta"), "[de] 100 ms of audio ");
  EXPECT_EQ(parsed(client.probe.messages()[0]).at("session").as_object().count("expires_at"), 0u);
  const auto record = *emulator->snapshot().connection(1);
  EXPECT_TRUE(record.relay);
  EXPECT_EQ(record.query.at("noise"), "near_field");
  EXPECT_EQ(record.query.at("token"), "tok-1");

  script.expiresAt = std::chrono::system_clock::time_point(std::chrono::seconds(1'900'000'000));
  emulator->setScript(script);
  const auto created = open(directRequest(*emulator)).probe.waitForType("session.created");
  ASSERT_TRUE(created);
  EXPECT_EQ(parsed(*created).at_pointer("/session/expires_at").as_int64(), 1'900'000'000);
}

TEST(ServiceEmulator, AnswersSessionCloseAsScripted) {
  auto emulator = startEmulator();
  ConnectionScript never;
  never.closedDelay.reset();
  emulator->setScript(2, never);

  auto prompt = open(directRequest(*emulator));
  ASSERT_TRUE(prompt.probe.waitForType("session.created"));
  prompt.connection->sendText(sessionClose);
  ASSERT_TRUE(prompt.probe.waitForType("session.closed"));

  auto silent = open(directRequest(*emulator));
  ASSERT_TRUE(silent.probe.waitForType("session.created"));
  silent.connection->sendText(sessionUpdate);
  silent.connection->sendText(sessionClose);
  silent.connection->sendText(append100ms);
  // The echo of the later block comes without any "session.closed" before it.
  ASSERT_TRUE(silent.probe.waitForMessages(5));
  EXPECT_EQ(typeOf(silent.probe.messages()[1]), "session.updated");
  EXPECT_EQ(typeOf(silent.probe.messages()[2]), "session.input_transcript.delta");
  // Until a test sends it by hand.
  ASSERT_TRUE(emulator->perform(2, Action::closed()));
  ASSERT_TRUE(silent.probe.waitForType("session.closed"));
  EXPECT_EQ(emulator->snapshot().connection(2)->countReceived("session.close"), 1u);
}

TEST(ServiceEmulator, GoesSilentAfterTheChosenBlockButKeepsCounting) {
  auto emulator = startEmulator();
  emulator->setScript(ConnectionScript{}.at(Trigger::afterBlocks(2), Action::goSilent()));
  auto client = open(directRequest(*emulator));
  ASSERT_TRUE(client.probe.waitForType("session.created"));
  client.connection->sendText(sessionUpdate);
  for (int i = 0; i < 4; ++i) client.connection->sendText(append100ms);
  client.connection->sendText(sessionClose);
  client.connection->sendText("not json");
  // Everything sent has been handled.
  ASSERT_TRUE(emulator->waitUntil([](const Snapshot& s) { return s.connection(1)->receivedTypes.size() >= 7; }));
  const auto record = *emulator->snapshot().connection(1);
  EXPECT_EQ(record.audioBlocks, 4u);
  EXPECT_EQ(record.audioBytes, 4u * 4800u);
  // created, updated and two echoes of three messages; nothing after.
  EXPECT_EQ(record.sentTypes.size(), 8u);
  EXPECT_EQ(record.receivedTypes.back(), "(not json)");
}

TEST(ServiceEmulator, ScriptsEachConnectionOnItsOwnAndAnswersInvalidMessagesWithErrors) {
  auto emulator = startEmulator();
  ConnectionScript refused;
  refused.refuseUpgrade = 503;
  emulator->setScript(2, refused);
  emulator->setScript(3, ConnectionScript{}.at(Trigger::atAccept(), Action::close(4401)));

  auto first = open(directRequest(*emulator));
  ASSERT_TRUE(first.probe.waitForType("session.created"));
  auto second = open(directRequest(*emulator));
  EXPECT_EQ(second.probe.waitForFailure().description, "WebSocket upgrade refused: HTTP 503");
  auto third = relay(*emulator);
  EXPECT_EQ(third.probe.waitForFailure().closeCode, std::optional<std::uint16_t>(4401));
  EXPECT_TRUE(third.probe.messages().empty()) << "closed before session.created";
  auto fourth = open(directRequest(*emulator));
  ASSERT_TRUE(fourth.probe.waitForType("session.created"));

  EXPECT_FALSE(emulator->perform(3, Action::closed())) << "connection 3 is closed";
  EXPECT_FALSE(emulator->perform(9, Action::closed()));
  EXPECT_TRUE(emulator->perform(4, Action::error("scripted")));
  const auto error = fourth.probe.waitForType("error");
  ASSERT_TRUE(error);
  EXPECT_EQ(stringAt(*error, "/error/message"), "scripted");

  // Invalid messages are answered with errors.
  fourth.connection->sendText(R"({"type":"response.create"})");
  fourth.connection->sendText(R"({"type":"session.input_audio_buffer.append","audio":"not base64!"})");
  fourth.connection->sendText("[1]");
  ASSERT_TRUE(fourth.probe.waitForMessages(5));
  const auto messages = fourth.probe.messages();
  EXPECT_EQ(stringAt(messages[2], "/error/code"), "unknown_event");
  EXPECT_EQ(stringAt(messages[3], "/error/code"), "invalid_audio");
  EXPECT_EQ(stringAt(messages[4], "/error/code"), "invalid_event");
  EXPECT_EQ(emulator->snapshot().connection(4)->audioBlocks, 0u);
}
