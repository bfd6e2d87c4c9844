#pragma once

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "emulator/ServiceEmulator.h"
#include "service/WebSocket.h"
#include "support/ScopedEnv.h"

namespace oskel::test {

using namespace std::chrono_literals;

// Generous bound for real network events on a loaded machine.
constexpr auto networkWait = 20s;

// Collects what a WebSocket connection delivers and lets a test wait for it.
// The handlers share the state, so they may outlive the probe.
class WebSocketProbe {
 public:
  WebSocketProbe();
  WebSocketConnection::Handlers handlers();

  // Messages in arrival order.
  std::vector<std::string> messages() const;
  std::optional<WebSocketFailure> failure() const;
  std::size_t failureCount() const;

  // Until the predicate holds for the messages so far, or a failure arrives.
  bool waitForMessages(std::size_t count) const;
  // The first received message whose "type" is type; nothing on time-out or failure.
  std::optional<std::string> waitForType(const std::string& type) const;
  // The first failure; the test fails when none comes in time.
  WebSocketFailure waitForFailure() const;

 private:
  // Until `done` holds for the state so far, under its lock, or time runs out.
  template <class Done>
  void waitUntil(Done done) const;

  struct State {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::vector<std::string> messages;
    std::vector<WebSocketFailure> failures;
  };
  std::shared_ptr<State> state_;
};

// A connection made by the real client and started with a probe's handlers.
struct ProbedConnection {
  std::shared_ptr<WebSocketConnection> connection;
  WebSocketProbe probe;
};
ProbedConnection open(const HttpRequest& request);

// The direct path's request to an emulator, with this key.
HttpRequest directRequest(const emulator::ServiceEmulator& emulator, const std::string& key = "sk-test-key");

// A direct-path configuration, and an append of 100 ms of audio (4800 bytes of
// 24 kHz PCM16 are 6400 base64 characters).
extern const std::string sessionUpdate;
extern const std::string blockOf100ms;
extern const std::string append100ms;

// A running emulator, or an exception saying why it could not start.
inline std::unique_ptr<emulator::ServiceEmulator> startEmulator(emulator::ServiceEmulator::Config config = {}) {
  auto started = emulator::ServiceEmulator::start(std::move(config));
  if (!started) throw std::runtime_error(started.error());
  return std::move(*started);
}

// "type" of a JSON message, empty when it has none.
std::string typeOf(const std::string& message);
using ScopedEnvironment = test::ScopedEnv;

// A port on 127.0.0.1 that nothing listens on.
std::uint16_t closedPort();

// A TCP listener on 127.0.0.1 that accepts connections (through the kernel's
// backlog) but never reads or answers: handshakes against it can only time out.
class SilentListener {
 public:
  SilentListener();
  ~SilentListener();
  SilentListener(const SilentListener&) = delete;
  SilentListener& operator=(const SilentListener&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace oskel::test
