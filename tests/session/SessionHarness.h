#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "concurrency/ManualClock.h"
#include "service/TranslationSession.h"
#include "session/FakeWebSocket.h"
#include "support/LogCapture.h"

namespace oskel::test {

// A session on a manual clock with a scripted WebSocket client and key check.
// Every script step settles the session's queue before returning, so a test
// reads a consistent picture without waiting on anything.
class SessionHarness {
 public:
  struct KeyCheckCall {
    std::string apiKey;
    double timeoutSeconds;
    std::function<void(OpenAIAuth::Verdict)> completion;
  };

  explicit SessionHarness(TranslationCredential credential = TranslationCredential::oskel("relay-token"),
                          TranslationOptions options = TranslationOptions("es"));
  ~SessionHarness();

  // Time.
  void settle() { clock->settle(); }
  void advance(double seconds) { clock->advanceSeconds(seconds); }

  // Owner side.
  void start();
  void append(std::vector<uint8_t> block);
  void stop(double timeoutSeconds);
  int completions() const;
  void release();  // drops the session (the owner's only reference)

  // Server side; `expiresIn` is seconds from the clock's wall time.
  void created(FakeConnection& connection, const std::string& id, std::optional<double> expiresIn = 1800.0);
  void updated(FakeConnection& connection) { receive(connection, R"({"type":"session.updated"})"); }
  void closed(FakeConnection& connection) { receive(connection, R"({"type":"session.closed"})"); }
  void receive(FakeConnection& connection, const std::string& message);
  void fail(FakeConnection& connection, const std::string& description,
            std::optional<uint16_t> closeCode = std::nullopt);
  // start(), then "session.created" and "session.updated" on the first connection.
  std::shared_ptr<FakeConnection> startLive(const std::string& id = "sess_1",
                                            std::optional<double> expiresIn = 1800.0);
  // rotate(reason) on the session, settled.
  void rotate(const std::string& reason = "test");
  // Rotates and brings the replacement to ready; the old live one drains.
  std::shared_ptr<FakeConnection> rotateTo(const std::string& id, std::optional<double> expiresIn = 1800.0);
  // Brings the newest connection to ready.
  std::shared_ptr<FakeConnection> makeReady(const std::string& id, std::optional<double> expiresIn = 1800.0);

  // What the owner saw.
  std::vector<TranslationEvent> events() const;
  std::vector<std::string> eventNames() const;
  void clearEvents();

  std::vector<KeyCheckCall> keyChecks() const;
  void answerKeyCheck(std::size_t index, OpenAIAuth::Verdict verdict);

  LogCapture log;
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<FakeWebSocketClient> client = std::make_shared<FakeWebSocketClient>();
  std::shared_ptr<TranslationSession> session;

 private:
  struct Shared {
    std::mutex mutex;
    std::vector<TranslationEvent> events;
    std::vector<KeyCheckCall> keyChecks;
    int completions = 0;
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

// A block whose bytes identify it, to follow blocks across connections.
std::vector<uint8_t> numberedBlock(uint32_t number, std::size_t size = 480);
// The number of a block made by numberedBlock.
uint32_t blockNumber(const std::vector<uint8_t>& block);

}  // namespace oskel::test
