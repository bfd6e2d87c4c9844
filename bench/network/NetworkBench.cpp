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
#include <string>
#include <vector>

#include "emulator/ServiceEmulator.h"
#include "service/WebSocket.h"

using namespace oskel;
using namespace oskel::emulator;

namespace {

// Counts the messages that hold each marker and lets the caller wait for a
// count. The handlers share it, since one may still run after close().
class Arrivals : public std::enable_shared_from_this<Arrivals> {
 public:
  explicit Arrivals(std::vector<std::string> markers) : markers_(std::move(markers)), counts_(markers_.size()) {}

  WebSocketConnection::Handlers handlers() {
    WebSocketConnection::Handlers handlers;
    handlers.onMessage = [self = shared_from_this()](std::string bytes) {
      self->update([&] {
        for (size_t i = 0; i < self->markers_.size(); ++i)
          if (bytes.find(self->markers_[i]) != std::string::npos) ++self->counts_[i];
      });
    };
    handlers.onFailure = [self = shared_from_this()](WebSocketFailure) { self->update([&] { self->failed_ = true; }); };
    return handlers;
  }
  // False on failure or when the count is not reached within 10 s.
  bool waitFor(size_t marker, size_t count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return counts_[marker] >= count || failed_; }) &&
           !failed_;
  }

 private:
  template <class Change>
  void update(Change&& change) {
    std::lock_guard guard(mutex_);
    change();
    changed_.notify_all();
  }

  const std::vector<std::string> markers_;
  std::vector<size_t> counts_;
  bool failed_ = false;
  std::mutex mutex_;
  std::condition_variable changed_;
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
  enum { ready, audio };
  auto arrivals = std::make_shared<Arrivals>(std::vector<std::string>{"session.updated", "session.output_audio.delta"});
  auto connection = defaultWebSocketClient()->makeConnection(relayRequest(*emulator), clientMessageLimit);
  connection->start(arrivals->handlers());
  if (!arrivals->waitFor(ready, 1)) return state.SkipWithError("no session.updated");

  // 100 ms of 24 kHz PCM16: 4800 bytes, 6400 base64 characters.
  const std::string append =
      R"({"type":"session.input_audio_buffer.append","audio":")" + std::string(6400, 'A') + "\"}";
  std::size_t sent = 0;
  for (auto _ : state) {
    connection->sendText(append);
    if (!arrivals->waitFor(audio, ++sent)) return state.SkipWithError("echo did not arrive");
  }
  connection->close();
  state.SetItemsProcessed(state.iterations());
}

void connectUntilCreated(benchmark::State& state) {
  auto emulator = startEmulator(state.range(0) != 0);
  for (auto _ : state) {
    auto created = std::make_shared<Arrivals>(std::vector<std::string>{"session.created"});
    auto connection = defaultWebSocketClient()->makeConnection(relayRequest(*emulator), clientMessageLimit);
    connection->start(created->handlers());
    if (!created->waitFor(0, 1)) return state.SkipWithError("no session.created");
    state.PauseTiming();
    connection.reset();
    state.ResumeTiming();
  }
}

}  // namespace

BENCHMARK(echoRoundTrip)->ArgName("tls")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(connectUntilCreated)->ArgName("tls")->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMicrosecond);
