// What the network layer adds to a translation on loopback: one audio block's
// round trip through the client and the emulator's echo, and the set-up of a
// connection up to "session.created". The real service adds its own processing
// and the wide-area network on top.
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <memory>
#include <mutex>

#include "emulator/ServiceEmulator.h"
#include "service/WebSocket.h"

using namespace oskel;
using namespace oskel::emulator;

namespace {

// Counts messages that contain a marker and lets the caller wait for the next
// one. Handlers share it, since one may still be running after close().
class Counter : public std::enable_shared_from_this<Counter> {
 public:
  explicit Counter(std::string marker) : marker_(std::move(marker)) {}
  static std::shared_ptr<Counter> make(std::string marker) { return std::make_shared<Counter>(std::move(marker)); }

  std::function<void(std::string)> onMessage() {
    return [self = shared_from_this()](std::string bytes) {
      if (bytes.find(self->marker_) == std::string::npos) return;
      std::lock_guard guard(self->mutex_);
      ++self->count_;
      self->changed_.notify_all();
    };
  }
  std::function<void(WebSocketFailure)> onFailure() {
    return [self = shared_from_this()](WebSocketFailure) {
      std::lock_guard guard(self->mutex_);
      self->failed_ = true;
      self->changed_.notify_all();
    };
  }
  // False on failure or when nothing arrives within 10 s.
  bool waitFor(std::size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return count_ >= count || failed_; }) && !failed_;
  }

 private:
  std::string marker_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t count_ = 0;
  bool failed_ = false;
};

std::unique_ptr<ServiceEmulator> startEmulator(bool tls) {
  ServiceEmulator::Config config;
  config.tls = tls;
  auto emulator = ServiceEmulator::start(config);
  if (!emulator) std::abort();
  if (tls) ::setenv("OSKEL_CA_FILE", (*emulator)->caFile().c_str(), 1);
  return std::move(*emulator);
}

HttpRequest relayRequest(const ServiceEmulator& emulator) {
  HttpRequest request;
  request.url = emulator.websocketOrigin() + "/v1/translate?to=es&transcribe=1&token=bench";
  request.headers = {{"Authorization", "Bearer bench"}};
  return request;
}

void echoRoundTrip(benchmark::State& state) {
  auto emulator = startEmulator(state.range(0) != 0);
  auto audio = Counter::make("session.output_audio.delta");
  auto ready = Counter::make("session.updated");
  WebSocketConnection::Handlers handlers;
  handlers.onMessage = [countAudio = audio->onMessage(), countReady = ready->onMessage()](std::string bytes) {
    countReady(bytes);
    countAudio(std::move(bytes));
  };
  handlers.onFailure = audio->onFailure();
  auto connection = defaultWebSocketClient()->makeConnection(relayRequest(*emulator), clientMessageLimit);
  connection->start(std::move(handlers));
  if (!ready->waitFor(1)) return state.SkipWithError("no session.updated");

  // 100 ms of 24 kHz PCM16: 4800 bytes, 6400 base64 characters.
  const std::string append = R"({"type":"session.input_audio_buffer.append","audio":")" + std::string(6400, 'A') + "\"}";
  std::size_t sent = 0;
  for (auto _ : state) {
    connection->sendText(append);
    if (!audio->waitFor(++sent)) return state.SkipWithError("echo did not arrive");
  }
  connection->close();
  state.SetItemsProcessed(state.iterations());
}

void connectUntilCreated(benchmark::State& state) {
  auto emulator = startEmulator(state.range(0) != 0);
  for (auto _ : state) {
    auto created = Counter::make("session.created");
    auto connection = defaultWebSocketClient()->makeConnection(relayRequest(*emulator), clientMessageLimit);
    WebSocketConnection::Handlers handlers;
    handlers.onMessage = created->onMessage();
    handlers.onFailure = created->onFailure();
    connection->start(std::move(handlers));
    if (!created->waitFor(1)) return state.SkipWithError("no session.created");
    state.PauseTiming();
    connection.reset();
    state.ResumeTiming();
  }
}

}  // namespace

BENCHMARK(echoRoundTrip)->ArgName("tls")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(connectUntilCreated)->ArgName("tls")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);
