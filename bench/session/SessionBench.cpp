// Per-block cost of sending audio: what a live session does for every 100 ms
// block of 24 kHz PCM16 (4800 bytes), and of parsing a delta of that size.
//
//   build/bench/session/bench_session
#include <benchmark/benchmark.h>

#include <mutex>

#include "concurrency/ManualClock.h"
#include "log/Log.h"
#include "service/Base64.h"
#include "service/RealtimeProtocol.h"
#include "service/TranslationSession.h"

namespace {

using namespace oskel;

std::vector<uint8_t> speechBlock() {
  std::vector<uint8_t> block(4800);
  uint32_t state = 12345;
  for (auto& byte : block) {
    state = state * 1664525u + 1013904223u;
    byte = static_cast<uint8_t>(state >> 24);
  }
  return block;
}

// Accepts everything and goes nowhere.
class NullConnection final : public WebSocketConnection {
 public:
  void start(Handlers handlers) override {
    std::lock_guard guard(mutex_);
    handlers_ = std::move(handlers);
  }
  void sendText(std::string text) override { benchmark::DoNotOptimize(text.data()); }
  void sendAudio(std::string text) override { benchmark::DoNotOptimize(text.data()); }
  void close(std::function<void()> done) override {
    if (done) done();
  }
  void receive(const std::string& message) {
    std::lock_guard guard(mutex_);
    handlers_.onMessage(message);
  }

 private:
  std::mutex mutex_;
  Handlers handlers_;
};

class NullClient final : public WebSocketClient {
 public:
  std::shared_ptr<WebSocketConnection> makeConnection(const HttpRequest&, std::size_t) override {
    last = std::make_shared<NullConnection>();
    return last;
  }
  std::shared_ptr<NullConnection> last;
};

// The whole path through a live session: copy on the caller's thread, hop to
// the session queue, base64, JSON, send. Each iteration is one block.
void BM_SessionAppendAudio(benchmark::State& state) {
  Log::setSink([](std::string_view) {});
  auto clock = std::make_shared<ManualClock>();
  auto client = std::make_shared<NullClient>();
  auto session = TranslationSession::create(TranslationCredential::oskel("token"), TranslationOptions("es"), "bench",
                                            {clock, client, nullptr});
  session->start();
  clock->settle();
  client->last->receive(R"({"type":"session.created","session":{"id":"bench"}})");
  client->last->receive(R"({"type":"session.updated"})");
  clock->settle();

  const auto block = speechBlock();
  int64_t inFlight = 0;
  for (auto _ : state) {
    session->appendAudio(block);
    if (++inFlight == 64) {  // keep the queue short, as real 100 ms pacing would
      clock->settle();
      inFlight = 0;
    }
  }
  clock->settle();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
  session.reset();
  Log::setSink({});
}
BENCHMARK(BM_SessionAppendAudio)->UseRealTime();

void BM_ParseOutputAudioDelta(benchmark::State& state) {
  const auto block = speechBlock();
  const std::string message =
      R"({"type":"session.output_audio.delta","response_id":"r","delta":")" + Base64::encode(block) + "\"}";
  for (auto _ : state) benchmark::DoNotOptimize(RealtimeProtocol::parse(message));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * block.size()));
}
BENCHMARK(BM_ParseOutputAudioDelta);

}  // namespace
