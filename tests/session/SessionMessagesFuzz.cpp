// Feeds arbitrary bytes as received WebSocket messages to a live session (and
// to the parser directly). The session runs on a manual clock with scripted
// connections; time moves a little after every message so that rotation,
// back-off and the watchdog are exercised too.
#include <cstddef>
#include <cstdint>
#include <string>

#include "concurrency/ManualClock.h"
#include "log/Log.h"
#include "service/RealtimeProtocol.h"
#include "service/TranslationSession.h"
#include "session/FakeWebSocket.h"

namespace {

using namespace oskel;

struct Fixture {
  Fixture() {
    Log::setSink([](std::string_view) {});
    TranslationSession::Environment environment;
    environment.clock = clock;
    environment.webSocketClient = client;
    environment.checkAPIKey = [](const std::string&, double, std::function<void(OpenAIAuth::Verdict)> done) {
      done(OpenAIAuth::Unknown{"fuzzing"});
    };
    session = TranslationSession::create(TranslationCredential::openai("sk-fuzz"), TranslationOptions("es"),
                                         "fuzz", std::move(environment));
    session->setOnEvent([](const TranslationEvent&) {});
    session->start();
    clock->settle();
  }
  ~Fixture() {
    session.reset();
    clock->settle();
  }

  void feed(const std::string& bytes) {
    auto connection = client->last();
    if (connection->closed()) {
      clock->advanceSeconds(10.0);  // let the session open a new one
      connection = client->last();
    }
    connection->receive(bytes);
    if (++count % 8 == 0) session->appendAudio(std::span<const uint8_t>(block));
    clock->advanceSeconds(0.25);
  }

  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<test::FakeWebSocketClient> client = std::make_shared<test::FakeWebSocketClient>();
  std::shared_ptr<TranslationSession> session;
  std::vector<uint8_t> block = std::vector<uint8_t>(4800, 0x11);
  uint64_t count = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A fresh session every 1000 inputs bounds what the fakes record; the last
  // one lives until the process ends.
  static Fixture* fixture = nullptr;
  static uint64_t inputs = 0;
  if (inputs++ % 1000 == 0) {
    delete fixture;
    fixture = new Fixture();
  }
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  (void)RealtimeProtocol::parse(bytes);
  fixture->feed(bytes);
  return 0;
}
