// The session against the local service emulator over real sockets: what only
// the wire can show. The session's own timers run on a manual clock, so time
// only moves when a test says so; the network runs in real time and tests
// wait for its effects with a bound, never for a timer.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "support/ScopedEnv.h"
#include "concurrency/ManualClock.h"
#include "emulator/ServiceEmulator.h"
#include "service/TranslationSession.h"
#include "session/SessionHarness.h"
#include "support/LogCapture.h"

namespace oskel::test {
namespace {

using namespace TranslationEvents;
using namespace std::chrono_literals;
using emulator::Action;
using emulator::ConnectionScript;
using emulator::ServiceEmulator;
using emulator::Snapshot;

constexpr auto patience = 20s;  // generous: sanitizer builds on a busy machine

// Counts the connections the real client is asked for.
class CountingClient final : public WebSocketClient {
 public:
  std::shared_ptr<WebSocketConnection> makeConnection(const HttpRequest& request,
                                                      std::size_t maxMessageBytes) override {
    ++made;
    return inner->makeConnection(request, maxMessageBytes);
  }
  std::shared_ptr<WebSocketClient> inner = defaultWebSocketClient();
  std::atomic<int> made{0};
};


class WireSession {
 public:
  explicit WireSession(TranslationCredential credential = TranslationCredential::oskel("tok-1"),
                       ServiceEmulator::Config config = {})
      : emulator_(startEmulator(std::move(config))),
        relayOrigin_("OSKEL_API", emulator_->httpOrigin()),
        serviceOrigin_("OSKEL_OPENAI_API", emulator_->httpOrigin()) {
    auto environment = TranslationSession::Environment::live();
    environment.clock = clock;
    environment.webSocketClient = client;
    session = TranslationSession::create(std::move(credential), TranslationOptions("es"), "en→es",
                                         std::move(environment));
    session->setOnEvent([this](const TranslationEvent& event) {
      std::lock_guard guard(mutex_);
      events_.push_back(event);
      changed_.notify_all();
    });
  }

  ~WireSession() {
    session.reset();
    clock->settle();
  }

  ServiceEmulator& emulator() { return *emulator_; }

  // Waits (in real time, bounded) until the owner has seen `count` events of the kind.
  template <class Event>
  bool waitForEvents(std::size_t count = 1) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, patience, [&] { return countLocked<Event>() >= count; });
  }
  template <class Event>
  std::size_t count() {
    std::lock_guard guard(mutex_);
    return countLocked<Event>();
  }
  bool waitForEvent(const TranslationEvent& expected) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, patience,
                             [&] { return std::find(events_.begin(), events_.end(), expected) != events_.end(); });
  }
  std::vector<std::string> eventNames() {
    std::lock_guard guard(mutex_);
    std::vector<std::string> names;
    for (const auto& event : events_) names.emplace_back(eventName(event));
    return names;
  }

  bool waitUntil(const std::function<bool(const Snapshot&)>& condition) {
    return emulator_->waitUntil(condition, std::chrono::duration_cast<std::chrono::milliseconds>(patience));
  }

  // Starts and waits for the first connection to be ready.
  void startLive() {
    session->start();
    ASSERT_TRUE(waitForEvents<Ready>(1));
  }
  // Rotates and waits for the replacement to be ready.
  void rotate() {
    const auto before = count<Ready>();
    session->rotate("test");
    ASSERT_TRUE(waitForEvents<Ready>(before + 1));
  }

  LogCapture log;
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<CountingClient> client = std::make_shared<CountingClient>();
  std::shared_ptr<TranslationSession> session;

 private:
  static std::unique_ptr<ServiceEmulator> startEmulator(ServiceEmulator::Config config) {
    auto started = ServiceEmulator::start(std::move(config));
    if (!started) throw std::runtime_error("emulator: " + started.error());
    return std::move(*started);
  }
  template <class Event>
  std::size_t countLocked() const {
    return static_cast<std::size_t>(
        std::count_if(events_.begin(), events_.end(), [](const auto& e) { return std::holds_alternative<Event>(e); }));
  }

  std::unique_ptr<ServiceEmulator> emulator_;
  test::ScopedEnv relayOrigin_;
  test::ScopedEnv serviceOrigin_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TranslationEvent> events_;
};

// Appends blocks of varying size, never letting more than `window` of them be
// unaccounted for by the emulator, so load stays high but bounded (below the
// 3 s of audio the client queues before it drops the oldest).
struct Feeder {
  void appendBurst(WireSession& wire, std::size_t blocks, std::size_t window = 8) {
    for (std::size_t i = 0; i < blocks; ++i) {
      const auto block = numberedBlock(static_cast<uint32_t>(appended), 4800 - 2 * (appended % 7));
      wire.session->appendAudio(block);
      ++appended;
      bytes += block.size();
      if (appended % window == 0) {
        const auto target = appended - window;
        ASSERT_TRUE(wire.waitUntil([&](const Snapshot& s) { return s.totalAudioBlocks() >= target; }));
      }
    }
  }
  std::size_t appended = 0;
  std::size_t bytes = 0;
};

// Polls (in real time, bounded) for an effect of the network.
bool eventually(const std::function<bool()>& condition) {
  const auto deadline = std::chrono::steady_clock::now() + patience;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(5ms);
  }
  return true;
}

void stopAndWait(WireSession& wire, double timeout) {
  std::mutex mutex;
  std::condition_variable done;
  bool completed = false;
  wire.session->stop(timeout, [&] {
    std::lock_guard guard(mutex);
    completed = true;
    done.notify_all();
  });
  std::unique_lock lock(mutex);
  ASSERT_TRUE(done.wait_for(lock, patience, [&] { return completed; }));
}

// Every block reached exactly one server session, and none after its close.
void expectEveryBlockOnce(WireSession& wire, const Feeder& feeder) {
  ASSERT_TRUE(wire.waitUntil([&](const Snapshot& s) { return s.totalAudioBlocks() >= feeder.appended; }));
  const auto snapshot = wire.emulator().snapshot();
  EXPECT_EQ(snapshot.totalAudioBlocks(), feeder.appended);
  EXPECT_EQ(snapshot.totalAudioBytes(), feeder.bytes);
  for (const auto& connection : snapshot.connections) {
    const auto& types = connection.receivedTypes;
    const auto close = std::find(types.begin(), types.end(), "session.close");
    EXPECT_EQ(std::find(close, types.end(), "session.input_audio_buffer.append"), types.end())
        << "audio after session.close on connection " << connection.index;
  }
}

TEST(SessionWire, HundredRotationsUnderLoad) {
  WireSession wire;
  wire.startLive();
  Feeder feeder;
  std::atomic<bool> feeding{true};
  std::thread load([&] {
    while (feeding) feeder.appendBurst(wire, 8);
  });
  for (int rotation = 0; rotation < 100; ++rotation) wire.rotate();
  feeding = false;
  load.join();
  stopAndWait(wire, 4.0);
  expectEveryBlockOnce(wire, feeder);
  ::testing::Test::RecordProperty("blocks", static_cast<int>(feeder.appended));
  EXPECT_EQ(wire.client->made.load(), 101);
  EXPECT_EQ(wire.count<Disconnected>(), 0u);
  for (const auto& connection : wire.emulator().snapshot().connections)
    EXPECT_EQ(connection.countReceived("session.close"), 1u) << connection.index;
}

TEST(SessionWire, DrainingConnectionStillDeliversToTheOwner) {
  WireSession wire;
  ConnectionScript lingering;
  lingering.closedDelay = std::nullopt;  // keeps translating after "session.close"
  wire.emulator().setScript(1, lingering);
  wire.startLive();
  wire.rotate();
  ASSERT_TRUE(wire.waitUntil([](const Snapshot& s) { return s.connection(1)->countReceived("session.close") == 1; }));

  ASSERT_TRUE(wire.emulator().perform(1, Action::outputTranscript("from the old session")));
  const std::vector<uint8_t> pcm{1, 0, 2, 0};
  ASSERT_TRUE(wire.emulator().perform(1, Action::outputAudio(pcm)));
  EXPECT_TRUE(wire.waitForEvent(OutputTranscript{"from the old session"}));
  EXPECT_TRUE(wire.waitForEvent(OutputAudio{pcm}));

  ASSERT_TRUE(wire.emulator().perform(1, Action::closed()));
  EXPECT_TRUE(wire.waitUntil([](const Snapshot& s) { return s.connection(1)->clientCloseCode == 1000; }));
  EXPECT_TRUE(wire.emulator().snapshot().connection(2)->open);
}

// The live environment's key check asks the same service.
TEST(SessionWire, RejectedKeyIsCheckedAndFatal) {
  ServiceEmulator::Config config;
  config.acceptedKeys = {"sk-good"};
  WireSession wire(TranslationCredential::openai("sk-wrong"), config);
  wire.session->start();
  ASSERT_TRUE(wire.waitForEvents<Fatal>());
  EXPECT_EQ(wire.eventNames(), (std::vector<std::string>{"disconnected", "fatal"}));
  EXPECT_TRUE(wire.log.contains("OpenAI rejected the API key ("));
  EXPECT_EQ(wire.emulator().snapshot().modelsRequests.size(), 1u);
  wire.clock->advance(60s);
  EXPECT_EQ(wire.client->made.load(), 1);
}

TEST(SessionWire, StopClosesTheSocketWhenTheServerNeverConfirms) {
  WireSession wire;
  ConnectionScript silentOnClose;
  silentOnClose.closedDelay = std::nullopt;
  wire.emulator().setScript(silentOnClose);
  wire.startLive();
  std::atomic<bool> completed{false};
  wire.session->stop(4.0, [&] { completed = true; });
  ASSERT_TRUE(wire.waitUntil([](const Snapshot& s) { return s.connection(1)->countReceived("session.close") == 1; }));
  wire.clock->advance(3999ms);
  EXPECT_FALSE(completed);
  wire.clock->advance(1ms);
  // The completion follows the close handshake, so the server has the 1000.
  EXPECT_TRUE(eventually([&] { return completed.load(); }));
  EXPECT_TRUE(wire.log.contains("session.closed did not arrive within 4.0s; closing socket"));
  EXPECT_TRUE(wire.waitUntil([](const Snapshot& s) { return s.connection(1)->clientCloseCode == 1000; }));
}

}  // namespace
}  // namespace oskel::test
