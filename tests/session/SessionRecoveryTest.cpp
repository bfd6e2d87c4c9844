// Back-off, the API-key check, sign-out and the stall watchdog.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "session/SessionHarness.h"
#include "support/ScopedEnv.h"

namespace oskel::test {
namespace {

using namespace TranslationEvents;

// Checks the next attempt comes exactly `delay` from now.
void expectAttemptAfter(SessionHarness& h, double delay) {
  const auto before = h.client->count();
  h.advance(delay - 0.01);
  EXPECT_EQ(h.client->count(), before) << "retried before " << delay << " s";
  h.advance(0.01);
  EXPECT_EQ(h.client->count(), before + 1) << "no retry after " << delay << " s";
}

// A start with an unusable origin is an error, backed off like a failed socket.
TEST(SessionRecovery, RelayBacksOffExponentiallyUpToTenSeconds) {
  SessionHarness h;
  {
    ScopedEnv origin("OSKEL_API", "ftp://relay.example");
    h.start();
  }
  EXPECT_EQ(h.client->count(), 0u);
  EXPECT_TRUE(h.log.contains("ERROR [en→es] cannot open a connection: relay origin"));
  EXPECT_TRUE(h.log.contains("INFO  [en→es] reconnecting in 1s (start)"));
  h.advance(1.0);
  ASSERT_EQ(h.client->count(), 1u);
  for (double delay : {2.0, 4.0, 8.0, 10.0, 10.0, 10.0}) {
    h.fail(*h.client->last(), "connection refused");
    expectAttemptAfter(h, delay);
  }
  EXPECT_EQ(h.log.count("reconnecting in 10s (socket failure)"), 3u);
  EXPECT_TRUE(h.log.contains("connecting (socket failure) -> es"));
  EXPECT_TRUE(h.keyChecks().empty());
  EXPECT_EQ(std::ranges::count(h.eventNames(), "disconnected"), 7);

  // A connection that becomes ready resets the back-off.
  h.makeReady("sess_ok");
  h.fail(*h.client->last(), "connection refused");
  expectAttemptAfter(h, 1.0);
  EXPECT_TRUE(h.log.contains("INFO  [en→es] reconnecting in 1s (socket failure)"));
}

TEST(SessionRecovery, DirectPathWaitsForTheKeyCheckBeforeRetryingAndARejectedKeyEndsTheSession) {
  SessionHarness h(TranslationCredential::openai("sk-test"));
  h.start();
  h.fail(*h.client->last(), "bad handshake");
  ASSERT_EQ(h.keyChecks().size(), 1u);
  EXPECT_EQ(h.keyChecks()[0].apiKey, "sk-test");
  EXPECT_EQ(h.keyChecks()[0].timeoutSeconds, 10.0);
  h.advance(30.0);
  EXPECT_EQ(h.client->count(), 1u);  // nothing until the verdict

  h.answerKeyCheck(0, OpenAIAuth::Unknown{"offline"});
  EXPECT_TRUE(h.log.contains("reconnecting in 1s (socket failure)"));
  expectAttemptAfter(h, 1.0);

  h.fail(*h.client->last(), "bad handshake");
  h.answerKeyCheck(1, OpenAIAuth::Valid{});
  expectAttemptAfter(h, 2.0);

  // Once the server session existed, a failure is not the key's fault.
  auto live = h.makeReady("sess_1");
  h.fail(*live, "reset");
  EXPECT_EQ(h.keyChecks().size(), 2u);
  expectAttemptAfter(h, 1.0);

  // A rejected key ends the session; a later stop still completes.
  h.clearEvents();
  h.fail(*h.client->last(), "bad handshake");
  h.answerKeyCheck(2, OpenAIAuth::Rejected{"Incorrect API key provided"});
  EXPECT_EQ(h.events(), (std::vector<TranslationEvent>{Disconnected{"bad handshake"},
                                                       Fatal{"OpenAI rejected the API key (Incorrect API key "
                                                             "provided)"}}));
  EXPECT_TRUE(h.log.contains("ERROR [en→es] OpenAI rejected the API key (Incorrect API key provided); giving up"));
  h.session->rotate("x");
  h.session->forceReconnect("x");
  h.advance(120.0);
  EXPECT_EQ(h.client->count(), 4u);
  h.stop(4.0);
  EXPECT_EQ(h.completions(), 1);
  EXPECT_EQ(h.eventNames().back(), "closed");

  // A verdict after a stop is ignored.
  SessionHarness stopped(TranslationCredential::openai("sk-bad"));
  stopped.start();
  stopped.fail(*stopped.client->last(), "bad handshake");
  stopped.stop(4.0);
  stopped.answerKeyCheck(0, OpenAIAuth::Rejected{"nope"});
  EXPECT_EQ(stopped.eventNames(), (std::vector<std::string>{"disconnected", "closed"}));
}

TEST(SessionRecovery, TokenRejectionSignsOutWithoutDisconnecting) {
  for (const bool wasLive : {true, false}) {
    SCOPED_TRACE(wasLive ? "live" : "rejected before it was ever live");
    SessionHarness h;
    h.start();
    if (wasLive) h.makeReady("sess_1");
    h.clearEvents();
    h.fail(*h.client->last(), "closed by peer", 4401);
    EXPECT_EQ(h.events(), (std::vector<TranslationEvent>{SignedOut{}}));
    EXPECT_TRUE(h.log.contains("WARN  [en→es] token rejected (4401); signing out"));
    EXPECT_FALSE(h.log.contains("failed:"));
    h.append({1});
    h.advance(120.0);
    EXPECT_EQ(h.client->count(), 1u);
    EXPECT_EQ(h.events().size(), 1u);
    // A stop then completes at once.
    h.stop(4.0);
    EXPECT_EQ(h.completions(), 1);
    EXPECT_EQ(h.eventNames().back(), "closed");
  }
}

// The server closing the live session is no disconnection: a quiet reconnect.
// A slow uplink's episode is its connection's: after the reconnect, the new
// connection's backlog is reported again, and every dropped block counts. A
// forced reconnect is a disconnection, and the dropped connection is not heard.
TEST(SessionRecovery, ServerClosingReconnectsQuietlyASlowUplinkIsReportedAgainAndAForcedReconnectDisconnects) {
  SessionHarness h;
  auto first = h.startLive("sess_a");
  first->reportBacklog({true, 3});
  h.settle();
  h.clearEvents();
  h.closed(*first);
  EXPECT_TRUE(first->closed());
  EXPECT_TRUE(h.events().empty());
  EXPECT_TRUE(h.log.contains("reconnecting in 1s (server closed the session)"));
  expectAttemptAfter(h, 1.0);
  auto second = h.makeReady("sess_b");
  second->reportBacklog({true, 2});
  second->reportBacklog({false, 0});
  h.settle();
  EXPECT_EQ(h.log.count("uplink too slow for the audio"), 2u);
  EXPECT_TRUE(h.log.contains("uplink caught up; 2 audio blocks were dropped"));
  EXPECT_EQ(h.session->droppedAudioBlocks(), 5u);

  h.clearEvents();
  h.session->forceReconnect("output stalled");
  h.settle();
  EXPECT_TRUE(second->closed());
  EXPECT_EQ(h.events(), (std::vector<TranslationEvent>{Disconnected{"output stalled"}}));
  EXPECT_TRUE(h.log.contains("WARN  [en→es] reconnecting: output stalled"));
  h.receive(*second, R"({"type":"session.output_transcript.delta","delta":"ghost"})");
  second->fail("late failure");
  h.settle();
  EXPECT_EQ(h.events().size(), 1u);
  expectAttemptAfter(h, 1.0);
  EXPECT_TRUE(h.log.contains("connecting (output stalled) -> es"));
}

// Only the loss of the live connection is a disconnection: the owner would
// otherwise show a healthy stream as reconnecting until the next rotation. A
// failed or closed replacement is retried after exactly 5 s, never backed off.
TEST(SessionRecovery, FailureOfADrainingConnectionOrAReplacementChangesNothing) {
  SessionHarness h;
  auto old = h.startLive("sess_a");
  auto live = h.rotateTo("sess_b");
  h.clearEvents();
  h.fail(*old, "closed by the server with code 1000", 1000);  // before its "session.closed"
  EXPECT_TRUE(h.log.contains("WARN  [en→es] connection sess_a failed: closed by the server with code 1000"));
  h.advance(60.0);
  EXPECT_EQ(h.client->count(), 2u);

  h.rotate("stall");
  h.fail(*h.client->last(), "handshake failed");
  EXPECT_TRUE(h.log.contains("WARN  [en→es] connection (connecting) failed: handshake failed"));
  h.append({5});
  EXPECT_EQ(live->appendedAudio().size(), 1u);
  expectAttemptAfter(h, 5.0);
  EXPECT_TRUE(h.log.contains("connecting (retry rotation) -> es"));
  EXPECT_FALSE(h.log.contains("reconnecting in"));
  h.closed(*h.client->last());
  h.advance(5.0);
  ASSERT_EQ(h.client->count(), 5u);
  EXPECT_TRUE(h.events().empty());
  h.makeReady("sess_c");
  EXPECT_TRUE(h.log.contains("rotated to session sess_c; draining sess_b"));

  h.clearEvents();
  h.rotate("test");
  h.fail(*h.client->last(), "closed by the server with code 4401", 4401);
  EXPECT_EQ(h.eventNames(), (std::vector<std::string>{"signedOut"}));
}

// A server that accepts the socket but never configures the session: a failed
// attempt after 15 s, backed off when connecting, retried after 5 s when rotating.
TEST(SessionRecovery, AConnectionNeverReadyIsAFailedAttempt) {
  SessionHarness h;
  h.start();
  h.advance(14.999);
  EXPECT_FALSE(h.client->last()->closed());
  h.advance(0.001);
  EXPECT_TRUE(h.client->last()->closed());
  EXPECT_TRUE(h.log.contains("connection (connecting) failed: not ready within 15s"));
  h.advance(1.0);
  h.makeReady("sess_1");

  h.rotate("test");
  h.created(*h.client->last(), "sess_2");  // talks, but never "session.updated"
  h.advance(15.0);
  EXPECT_TRUE(h.client->last()->closed());
  EXPECT_EQ(std::ranges::count(h.eventNames(), "disconnected"), 1);  // the live one was never lost
  h.advance(5.0);
  EXPECT_EQ(h.client->count(), 4u);
  EXPECT_TRUE(h.log.contains("connecting (retry rotation)"));
}

// A block every 100 ms for `seconds`, the clock moving along.
void sendAudio(SessionHarness& h, double seconds) {
  for (int i = 0; i < static_cast<int>(seconds * 10.0 + 0.5); ++i) {
    h.append({1, 2, 3, 4});
    h.advance(0.1);
  }
}

// Ticks every 2 s; ready at 0.25 s, after which the server says nothing more.
TEST(SessionWatchdog, ReconnectsOnTheFirstTickAfterTheStallTimeoutOfSilence) {
  const double saved = TranslationSession::stallTimeout();
  // The default 8 s: the tick at 8 s saw 7.75 s, the one at 10 s sees 9.75 s.
  for (const auto& [timeout, quiet, seen] : {std::tuple{8.0, 7.8, "10"}, {3.0, 1.8, "4"}}) {
    SCOPED_TRACE(timeout);
    TranslationSession::setStallTimeout(timeout);
    SessionHarness h;
    h.start();
    h.advance(0.25);
    h.makeReady("sess_1");
    sendAudio(h, quiet);
    EXPECT_EQ(h.client->count(), 1u);
    h.clearEvents();
    sendAudio(h, 2.0);
    EXPECT_EQ(h.client->count(), 1u);
    const auto reason = std::string("no server messages for ") + seen + "s while sending audio";
    EXPECT_EQ(h.events(), (std::vector<TranslationEvent>{Disconnected{reason}}));
    EXPECT_TRUE(h.log.contains("WARN  [en→es] reconnecting: " + reason));
    EXPECT_TRUE(h.client->at(0)->closed());
    h.advance(1.0);
    EXPECT_EQ(h.client->count(), 2u);
  }
  TranslationSession::setStallTimeout(saved);
}

TEST(SessionWatchdog, OnlyTheLiveConnectionCountsAsAnswer) {
  SessionHarness h;
  h.start();
  h.advance(0.25);
  h.makeReady("sess_1");
  h.rotate("test");  // a replacement that talks but never becomes ready
  auto replacement = h.client->last();
  sendAudio(h, 5.0);
  h.created(*replacement, "sess_2");
  h.receive(*replacement, R"({"type":"session.output_transcript.delta","delta":"?"})");
  sendAudio(h, 4.8);
  EXPECT_TRUE(h.log.contains("reconnecting: no server messages for 10s while sending audio"));
}

// Silence is reported when it ends, once it lasted 5 s, and measured on the live connection only.
TEST(SessionWatchdog, QuietWhileNoAudioIsSentOrTheServerTalksAndNoSilenceWarningCarriedOverADrop) {
  SessionHarness h;
  auto first = h.startLive("sess_1");
  sendAudio(h, 1.0);
  h.receive(*first, R"({"type":"session.output_transcript.delta","delta":"."})");
  h.fail(*first, "reset");
  h.advance(1.0);
  h.makeReady("sess_2");  // at 2 s, while the run of audio goes on
  sendAudio(h, 4.5);
  h.receive(*h.client->last(), R"({"type":"session.output_transcript.delta","delta":"."})");
  EXPECT_FALSE(h.log.contains("server silent"));
  sendAudio(h, 6.0);
  h.receive(*h.client->last(), R"({"type":"session.output_audio.delta","delta":"AAA="})");
  EXPECT_TRUE(
      h.log.contains("WARN  [en→es] server silent for 6s while audio was being sent (no messages of any "
                     "kind); resumed with session.output_audio.delta"));

  // No reconnect for a long silence while no audio was sent for the last 3 s,
  // nor while the server talks.
  h.advance(120.0);
  for (int i = 0; i < 300; ++i) {  // 30 s of audio with the server answering every second
    h.append({1, 2});
    if (i % 10 == 0) h.receive(*h.client->last(), R"({"type":"session.output_transcript.delta","delta":"."})");
    h.advance(0.1);
  }
  EXPECT_EQ(h.client->count(), 2u);
  EXPECT_FALSE(h.log.contains("reconnecting:"));
}

}  // namespace
}  // namespace oskel::test
