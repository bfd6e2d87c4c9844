// The bounded stop, and what releasing a session leaves behind.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "session/SessionHarness.h"

namespace oskel::test {
namespace {

using namespace TranslationEvents;

// Every completion runs once, when every draining connection has closed or
// failed too; nothing more happens after a stop, and a stop after the end
// completes at once.
TEST(SessionStop, CompletesOnceWhenEveryConnectionEnded) {
  SessionHarness h;
  auto old = h.startLive("sess_a");
  auto live = h.rotateTo("sess_b", 100.0);
  h.clearEvents();
  h.stop(4.0);
  h.stop(4.0);
  EXPECT_EQ(live->sentTypes().back(), "session.close");
  const auto sent = live->sent().size();
  h.append({1, 2});
  h.session->rotate("x");
  h.session->forceReconnect("x");
  h.advance(1.0);
  h.receive(*live, R"({"type":"session.output_transcript.delta","delta":"last words"})");
  h.closed(*live);
  EXPECT_EQ(h.completions(), 0);
  h.fail(*old, "reset");
  EXPECT_EQ(h.completions(), 2);
  EXPECT_EQ(h.events(), (std::vector<TranslationEvent>{OutputTranscript{"last words"}, Closed{}}));
  EXPECT_TRUE(live->closed());
  h.advance(3600.0);
  EXPECT_EQ(h.completions(), 2);
  EXPECT_EQ(live->sent().size(), sent);
  EXPECT_EQ(h.client->count(), 2u);
  EXPECT_FALSE(h.log.contains("did not arrive"));
  h.stop(4.0);
  EXPECT_EQ(h.completions(), 3);
  EXPECT_EQ(h.eventNames(), (std::vector<std::string>{"outputTranscript", "closed", "closed"}));
}

// A short timeout is kept to the millisecond and logged in its shortest form.
TEST(SessionStop, ClosesBySocketAfterTheTimeout) {
  for (const auto& [timeout, shown] : {std::pair{4.0, "4.0"}, {0.3, "0.3"}}) {
    SCOPED_TRACE(timeout);
    SessionHarness h;
    auto live = h.startLive();
    h.stop(timeout);
    h.advance(timeout - 0.001);
    EXPECT_EQ(h.completions(), 0);
    EXPECT_FALSE(live->closed());
    h.advance(0.001);
    EXPECT_EQ(h.completions(), 1);
    EXPECT_TRUE(live->closed());
    EXPECT_TRUE(h.log.contains(std::string("WARN  [en→es] session.closed did not arrive within ") + shown +
                               "s; closing socket"));
    // A confirmation that arrives later changes nothing.
    h.closed(*live);
    EXPECT_EQ(h.completions(), 1);
    EXPECT_EQ(h.eventNames(), (std::vector<std::string>{"connected", "ready", "closed"}));
  }
}

// The owner may exit the process on the completion: the close frame must be
// out by then, but a peer that never answers holds the stop up only briefly.
TEST(SessionStop, CompletionWaitsForTheCloseHandshakeForAtMostASecond) {
  for (const bool peerAnswers : {true, false}) {
    SCOPED_TRACE(peerAnswers ? "the peer answers the close" : "the peer never answers");
    SessionHarness h;
    h.client->holdCloses = true;
    auto live = h.startLive();
    h.stop(4.0);
    h.closed(*live);
    h.advance(0.999);
    EXPECT_EQ(h.completions(), 0);
    if (peerAnswers) live->finishClose();
    h.advance(peerAnswers ? 0.0 : 0.001);
    EXPECT_EQ(h.completions(), 1);
  }
}

TEST(SessionStop, NeverConnectedOrStillConnectingCompletesAtOnce) {
  SessionHarness h;
  h.stop(4.0);
  EXPECT_EQ(h.completions(), 1);
  EXPECT_EQ(h.eventNames(), (std::vector<std::string>{"closed"}));
  h.start();  // too late: nothing is opened
  h.advance(30.0);
  EXPECT_EQ(h.client->count(), 0u);

  SessionHarness pending;
  pending.start();
  pending.stop(4.0);
  EXPECT_TRUE(pending.client->last()->closed());
  EXPECT_EQ(pending.completions(), 1);
}

// Releasing a session with work still scheduled: nothing fires, no callback
// touches the dead session, and its sockets are closed.
TEST(SessionRelease, CancelsTimersDelaysAndLateSocketTraffic) {
  SessionHarness h;
  auto draining = h.startLive("sess_a", 100.0);
  auto live = h.rotateTo("sess_b", 100.0);  // rotation timer and watchdog armed, sess_a draining
  h.rotate("test");
  h.fail(*h.client->last(), "refused");  // "retry rotation" is due in 5 s
  h.clearEvents();
  h.log.clear();

  h.release();
  draining->receive(R"({"type":"session.output_transcript.delta","delta":"late"})");
  live->fail("late");
  h.advance(3600.0);
  EXPECT_TRUE(h.events().empty());
  EXPECT_TRUE(h.log.lines().empty());
  EXPECT_TRUE(draining->closed());
  EXPECT_TRUE(live->closed());
  EXPECT_EQ(h.client->count(), 3u);
}

TEST(SessionRelease, DropsALateKeyCheckVerdictAPendingReconnectOrAStopInProgress) {
  SessionHarness h(TranslationCredential::openai("sk"));
  h.start();
  h.fail(*h.client->last(), "refused");
  h.answerKeyCheck(0, OpenAIAuth::Unknown{"offline"});  // reconnect due in 1 s
  h.advance(1.0);
  h.fail(*h.client->last(), "refused");  // a second check is out
  h.clearEvents();
  h.log.clear();

  h.release();
  h.answerKeyCheck(1, OpenAIAuth::Rejected{"late"});
  h.advance(60.0);
  EXPECT_TRUE(h.events().empty());
  EXPECT_TRUE(h.log.lines().empty());
  EXPECT_EQ(h.client->count(), 2u);

  SessionHarness reconnecting;
  reconnecting.closed(*reconnecting.startLive());  // reconnect due in 1 s
  reconnecting.release();
  reconnecting.advance(60.0);
  EXPECT_EQ(reconnecting.client->count(), 1u);

  SessionHarness stopping;
  auto live = stopping.startLive();
  stopping.stop(4.0);
  stopping.release();
  stopping.advance(10.0);
  EXPECT_EQ(stopping.completions(), 0);
  EXPECT_FALSE(stopping.log.contains("did not arrive"));
  EXPECT_TRUE(live->closed());
}

TEST(SessionRelease, OwnerMayDropTheSessionFromItsCompletion) {
  SessionHarness h;
  auto live = h.startLive();
  auto holder = std::make_shared<std::shared_ptr<TranslationSession>>(h.session);
  std::atomic<bool> completed{false};
  h.session->stop(4.0, [holder, &completed] {
    holder->reset();  // the last reference goes on the session's own queue
    completed = true;
  });
  h.session.reset();
  h.closed(*live);
  EXPECT_TRUE(completed);
  h.advance(60.0);
}

// Threads feeding audio while the server rotates, the owner forces
// reconnects and finally lets go, all without waiting for each other.
TEST(SessionRelease, ConcurrentUseAndRelease) {
  SessionHarness h;
  h.startLive("sess_a", 100.0);
  std::vector<std::thread> feeders;
  for (int t = 0; t < 3; ++t)
    feeders.emplace_back([session = std::weak_ptr<TranslationSession>(h.session)] {
      for (uint32_t n = 0; n < 2000; ++n)
        if (auto s = session.lock()) s->appendAudio(numberedBlock(n, 64));
    });
  for (int i = 0; i < 50; ++i) {
    h.session->rotate("test");
    if (auto connection = h.client->last(); connection->started()) {
      connection->receive(R"({"type":"session.created","session":{"id":"s"}})");
      connection->receive(R"({"type":"session.updated"})");
      connection->receive(R"({"type":"session.output_audio.delta","delta":"AAA="})");
    }
    if (i % 10 == 9) h.session->forceReconnect("test");
  }
  h.release();
  for (auto& feeder : feeders) feeder.join();
  h.advance(600.0);
}

}  // namespace
}  // namespace oskel::test
