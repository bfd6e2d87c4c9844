// The Beast WebSocket client against the service emulator over real sockets.
#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <variant>

#include "NetworkProbe.h"
#include "concurrency/ManualClock.h"
#include "emulator/ServiceEmulator.h"
#include "log/Log.h"
#include "service/TranslationSession.h"
#include "service/WebSocket.h"
#include "support/Eventually.h"
#include "support/LogCapture.h"

using namespace oskel;
using namespace oskel::emulator;
using namespace oskel::test;

namespace {

ServiceEmulator::Config tlsConfig(std::vector<std::string> names = {"127.0.0.1", "localhost"}) {
  ServiceEmulator::Config config;
  config.tls = true;
  config.certificateNames = std::move(names);
  return config;
}

// A full direct-path exchange: created, configuration and audio sent before
// the handshake ended (queued, in order), audio echo, then a client close.
void roundTrip(ServiceEmulator& emulator) {
  auto request = directRequest(emulator);
  request.headers.emplace_back("X-Oskel-Probe", "round trip");
  auto c = open(request);
  c.connection->sendText(sessionUpdate);
  for (int i = 0; i < 3; ++i) c.connection->sendText(append100ms);

  const auto created = c.probe.waitForType("session.created");
  ASSERT_TRUE(created) << (c.probe.failure() ? c.probe.failure()->description : "no message");
  EXPECT_NE(created->find("\"sess_emu_1\""), std::string::npos);
  ASSERT_TRUE(c.probe.waitForType("session.updated"));
  const auto audio = c.probe.waitForType("session.output_audio.delta");
  ASSERT_TRUE(audio);
  EXPECT_NE(audio->find(blockOf100ms), std::string::npos);
  const auto transcript = c.probe.waitForType("session.output_transcript.delta");
  ASSERT_TRUE(transcript);
  EXPECT_NE(transcript->find("[es] 100 ms of audio"), std::string::npos);

  c.connection->close();
  c.connection->close();
  ASSERT_TRUE(emulator.waitUntil([](const Snapshot& s) { return s.connection(1) && s.connection(1)->finished; }));
  const auto record = *emulator.snapshot().connection(1);
  EXPECT_EQ(record.clientCloseCode, std::optional<std::uint16_t>(1000));
  EXPECT_EQ(record.header("authorization"), "Bearer sk-test-key");
  EXPECT_EQ(record.header("x-oskel-probe"), "round trip");
  EXPECT_EQ(record.receivedTypes,
            (std::vector<std::string>{"session.update", "session.input_audio_buffer.append",
                                      "session.input_audio_buffer.append", "session.input_audio_buffer.append"}));
  EXPECT_EQ(record.audioBytes, 3u * 4800u);
  EXPECT_EQ(c.probe.failureCount(), 0u) << "nothing is reported after close()";
}

}  // namespace

// In plain text, and over TLS with the trusted test CA.
TEST(WebSocketClient, RoundTripCarriesHeadersMessagesAndTheCloseCode) {
  {
    SCOPED_TRACE("plain");
    roundTrip(*startEmulator());
  }
  SCOPED_TRACE("TLS");
  auto secure = startEmulator(tlsConfig());
  ScopedEnvironment trust("OSKEL_CA_FILE", secure->caFile());
  roundTrip(*secure);
}

TEST(WebSocketClient, RefusesCertificatesFromAnUntrustedCaOrForAnotherName) {
  auto untrusted = startEmulator(tlsConfig());
  auto failure = open(directRequest(*untrusted)).probe.waitForFailure();
  EXPECT_NE(failure.description.find("certificate verify failed"), std::string::npos) << failure.description;
  EXPECT_FALSE(failure.closeCode);
  auto otherName = startEmulator(tlsConfig({"service.example"}));
  ScopedEnvironment trust("OSKEL_CA_FILE", otherName->caFile());
  failure = open(directRequest(*otherName)).probe.waitForFailure();
  EXPECT_NE(failure.description.find("mismatch"), std::string::npos) << failure.description;
  // Neither server ever saw an upgrade request.
  EXPECT_TRUE(untrusted->snapshot().connections.empty());
  EXPECT_TRUE(otherName->snapshot().connections.empty());
}

TEST(WebSocketClient, ReportsThePeersCloseCodeAndFailsClearlyWhenNoConnectionIsMadeOrTheHandshakeTimesOut) {
  ServiceEmulator::Config config;
  config.acceptedTokens = {"good-token"};
  auto emulator = startEmulator(config);
  emulator->setScript(2, ConnectionScript{}.at(Trigger::afterCreated(), Action::close(1001, "going away")));

  // The relay refuses an unknown token after the upgrade with 4401.
  HttpRequest relay;
  relay.url = emulator->websocketOrigin() + "/v1/translate?to=es&transcribe=1&token=bad-token";
  relay.headers = {{"Authorization", "Bearer bad-token"}};
  auto rejected = open(relay);
  auto failure = rejected.probe.waitForFailure();
  EXPECT_EQ(failure.closeCode, std::optional<std::uint16_t>(4401));
  EXPECT_NE(failure.description.find("4401"), std::string::npos) << failure.description;
  EXPECT_TRUE(rejected.probe.messages().empty());

  auto goingAway = open(directRequest(*emulator));
  failure = goingAway.probe.waitForFailure();
  EXPECT_EQ(failure.closeCode, std::optional<std::uint16_t>(1001));
  EXPECT_NE(failure.description.find("going away"), std::string::npos) << failure.description;
  EXPECT_EQ(goingAway.probe.messages().size(), 1u) << "session.created arrives before the close";

  const auto port = closedPort();
  HttpRequest request;
  request.url = fmt::format("ws://127.0.0.1:{}/v1/realtime/translations", port);
  EXPECT_EQ(open(request).probe.waitForFailure().description,
            fmt::format("could not connect to 127.0.0.1:{}: Connection refused", port));

  request = directRequest(*emulator);
  request.headers.clear();
  EXPECT_EQ(open(request).probe.waitForFailure().description, "WebSocket upgrade refused: HTTP 401");
  EXPECT_EQ(emulator->snapshot().connection(3)->refusedStatus, std::optional<int>(401));

  request.url = "https://127.0.0.1/not-a-websocket";
  EXPECT_EQ(open(request).probe.waitForFailure().description, "not a WebSocket URL: https://127.0.0.1/not-a-websocket");

  // A server that never answers the handshake.
  SilentListener silent;
  request.timeout = std::chrono::duration<double>(0.2);
  for (const char* scheme : {"ws", "wss"}) {
    request.url = fmt::format("{}://127.0.0.1:{}/v1/realtime/translations", scheme, silent.port());
    failure = open(request).probe.waitForFailure();
    EXPECT_NE(failure.description.find("timed out"), std::string::npos) << scheme << ": " << failure.description;
  }
}

// Only a message over the limit fails the connection.
TEST(WebSocketClient, DeliversWhateverArrivesAsBytesWithoutJudgingItUpToTheMessageLimit) {
  auto emulator = startEmulator();
  emulator->setScript(ConnectionScript{}
                          .at(Trigger::afterCreated(), Action::malformed())
                          .at(Trigger::afterCreated(), Action::nonObject())
                          .at(Trigger::afterCreated(), Action::withoutType())
                          .at(Trigger::afterCreated(), Action::binary(std::string("\0\x01\xff", 3)))
                          .at(Trigger::afterCreated(), Action::errorString("plain string"))
                          .at(Trigger::afterCreated(), Action::text(""))
                          .at(Trigger::afterCreated(), Action::padded(clientMessageLimit))
                          .at(Trigger::afterCreated(), Action::oversized()));
  auto c = open(directRequest(*emulator));
  const auto failure = c.probe.waitForFailure();
  EXPECT_NE(failure.description.find("limit of 4194304 bytes"), std::string::npos) << failure.description;
  const auto messages = c.probe.messages();
  ASSERT_EQ(messages.size(), 8u);
  EXPECT_EQ(typeOf(messages[0]), "session.created");
  EXPECT_EQ(
      std::vector(messages.begin() + 1, messages.end() - 1),
      (std::vector<std::string>{Action::malformed().payload, Action::nonObject().payload, Action::withoutType().payload,
                                std::string("\0\x01\xff", 3), R"({"error":"plain string","type":"error"})", ""}));
  EXPECT_EQ(messages.back().size(), clientMessageLimit);
}

TEST(WebSocketClient, SendsAfterTheEndAreOnlyLogged) {
  Log::setVerbose(true);
  LogCapture log;
  auto emulator = startEmulator();
  emulator->setScript(ConnectionScript{}.at(Trigger::afterCreated(), Action::drop()));
  auto c = open(directRequest(*emulator));
  const auto failure = c.probe.waitForFailure();
  EXPECT_NE(failure.description.find("connection lost"), std::string::npos) << failure.description;
  c.connection->sendText(sessionUpdate);
  c.connection.reset();
  // The send runs on the network thread; a fresh connection's failure orders after it.
  HttpRequest bad;
  bad.url = "bad";
  open(bad).probe.waitForFailure();
  Log::setVerbose(false);
  EXPECT_EQ(log.count("DEBUG ws send failed: the connection is closed"), 1u);
  EXPECT_EQ(c.probe.failureCount(), 1u);
}

TEST(WebSocketClient, ReleasingConnectionsMidTrafficIsSafe) {
  auto emulator = startEmulator();
  constexpr int rounds = 12;
  for (int round = 0; round < rounds; ++round) {
    auto request = directRequest(*emulator);
    request.headers.emplace_back("X-Round", std::to_string(round));
    auto c = open(request);
    c.connection->sendText(sessionUpdate);
    for (int i = 0; i < round * 4; ++i) c.connection->sendText(append100ms);
    if (round % 3 == 1) c.probe.waitForMessages(1 + static_cast<std::size_t>(round));
    // Release from the test thread at varying points of the exchange.
    c.connection.reset();
  }

  // Release from inside a handler, on the network thread, while echoes stream in.
  auto holder = std::make_shared<std::shared_ptr<WebSocketConnection>>();
  std::atomic<int> seen{0};
  WebSocketProbe probe;
  auto handlers = probe.handlers();
  auto record = handlers.onMessage;
  handlers.onMessage = [holder, record, &seen](std::string bytes) {
    record(std::move(bytes));
    if (++seen == 3) holder->reset();
  };
  auto request = directRequest(*emulator);
  request.headers.emplace_back("X-Round", "last");
  *holder = defaultWebSocketClient()->makeConnection(request, clientMessageLimit);
  auto connection = *holder;
  connection->start(std::move(handlers));
  connection->sendText(sessionUpdate);
  for (int i = 0; i < 50; ++i) connection->sendText(append100ms);
  connection.reset();
  ASSERT_TRUE(probe.waitForMessages(3));

  // Every server-side connection ends: the released ones were closed, not leaked.
  // (Those released before their upgrade request left never got a record.)
  ASSERT_TRUE(emulator->waitUntil([&](const Snapshot& s) {
    return std::ranges::all_of(s.connections, [](const auto& c) { return c.finished; }) &&
           std::ranges::any_of(s.connections, [](const auto& c) { return c.header("x-round") == "last"; });
  }));
  EXPECT_TRUE(std::ranges::all_of(emulator->snapshot().connections,
                                  [](const auto& c) { return c.clientCloseCode.value_or(1000) == 1000; }));
  EXPECT_EQ(probe.failureCount(), 0u);
}

// A session on a link that stops taking data: audio is fed far faster than
// real time while the emulator reads nothing, with small kernel buffers on
// both ends so that the backlog reaches the client's outbox. Two stalls, each
// ended by the reader resuming. (Fed in one burst, the kernel may take a
// second's audio after the outbox overflowed: an episode of its own.)
TEST(WebSocketClient, ASlowUplinkDropsTheOldestAudioOncePerEpisodeAndRecovers) {
  ServiceEmulator::Config config;
  config.receiveBufferBytes = 32768;
  auto emulator = startEmulator(config);
  ScopedEnvironment relay("OSKEL_API", emulator->httpOrigin());
  LogCapture log;
  auto clock = std::make_shared<ManualClock>();
  auto environment = TranslationSession::Environment::live();
  environment.clock = clock;
  auto session =
      TranslationSession::create(TranslationCredential::oskel("tok"), TranslationOptions("es"), "en→es", environment);
  std::atomic<int> ready{0};
  session->setOnEvent([&](const TranslationEvent& e) { ready += std::holds_alternative<TranslationEvents::Ready>(e); });
  session->start();
  ASSERT_TRUE(eventually([&] { return ready == 1; }));

  const std::vector<uint8_t> block(4800, 0x11);  // 100 ms
  std::size_t pushed = 0;
  const auto push = [&](std::size_t blocks) {
    for (std::size_t i = 0; i < blocks; ++i) session->appendAudio(block);
    pushed += blocks;
    clock->settle();
  };
  const auto warnings = [&] {
    return log.count("WARN  [en→es] uplink too slow for the audio: dropping queued audio older than 3s");
  };
  const auto caughtUp = [&] { return log.count("INFO  [en→es] uplink caught up; "); };
  for (int stall = 0; stall < 2; ++stall) {
    ASSERT_TRUE(emulator->perform(1, Action::stopReading()));
    const auto droppedBefore = session->droppedAudioBlocks();
    push(200);  // 20 s
    // The kernel holds about a second of it, the outbox three: most is dropped, with a warning.
    ASSERT_TRUE(eventually([&] { return session->droppedAudioBlocks() - droppedBefore > 100; }));
    EXPECT_GT(warnings(), static_cast<std::size_t>(stall));

    const auto receivedBefore = emulator->snapshot().connection(1)->audioBlocks;
    ASSERT_TRUE(emulator->perform(1, Action::resumeReading()));
    push(10);
    // Every block arrived or was counted as dropped, and the episode ended.
    ASSERT_TRUE(eventually([&] {
      return emulator->snapshot().connection(1)->audioBlocks + session->droppedAudioBlocks() == pushed &&
             warnings() == caughtUp();
    }));
    // What the stall kept fits the outbox's 3 s and the kernel buffers' (2 to 3 s here).
    EXPECT_LE(emulator->snapshot().connection(1)->audioBlocks - receivedBefore - 10, 30u + 40u);
  }
  EXPECT_LE(warnings(), 4u);  // not one per drop
  session.reset();
  clock->settle();
}
