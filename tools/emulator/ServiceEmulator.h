#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "emulator/ConnectionScript.h"
#include "emulator/EmulatorRecords.h"

// A local stand-in for the realtime translation service and the relay, on
// 127.0.0.1 only, for tests and offline use. It speaks the server side of the
// protocol over real sockets (ws:// or wss://) and does not translate: by
// default it plays the received audio back with transcript deltas that name
// what it received.
//
// Paths:
//   /v1/realtime/translations?model=M   direct: "session.created", then waits for
//                                       "session.update" and answers "session.updated"
//   /v1/translate?to=..&transcribe=..&token=..[&noise=..]
//                                       relay: "session.created" and "session.updated"
//                                       on its own
//   GET /v1/models?limit=1              the key check
// Every request needs "Authorization: Bearer <key or token>"; without one the
// upgrade (or models request) is answered 401. With acceptedKeys set, another
// key is refused like the real service (401 with a JSON error body); with
// acceptedTokens set, the relay accepts another token and closes with 4401.
//
// Typical test use:
//   auto emulator = ServiceEmulator::start().value();
//   setenv("OSKEL_OPENAI_API", emulator->httpOrigin().c_str(), 1);   // direct path
//   setenv("OSKEL_API", emulator->httpOrigin().c_str(), 1);          // relay path
//   emulator->setScript(2, ConnectionScript{}.at(Trigger::afterBlocks(3), Action::close(4401)));
//   ... run the client ...
//   emulator->waitUntil([](const Snapshot& s) { return s.totalAudioBlocks() >= 10; });
// For wss://, start with Config::tls and point OSKEL_CA_FILE at caFile().
namespace oskel::emulator {

class ServiceEmulator {
 public:
  struct Config {
    std::uint16_t port = 0;  // 0: any free port
    bool tls = false;
    // Names the server certificate is valid for (tls).
    std::vector<std::string> certificateNames{"127.0.0.1", "localhost"};
    std::set<std::string> acceptedKeys;    // direct path and models; empty: any key
    std::set<std::string> acceptedTokens;  // relay path; empty: any token
    // The kernel's receive buffer of every connection; 0 leaves the system's,
    // which takes megabytes. A small one makes a client feel a reader that
    // stops (Action::stopReading) at once, as on a slow uplink.
    int receiveBufferBytes = 0;
    // Receives the emulator's own log lines (kept apart from the engine's log).
    std::function<void(const std::string&)> log;
  };

  // Listens and serves on its own thread until destroyed.
  static std::expected<std::unique_ptr<ServiceEmulator>, std::string> start(Config config);
  static std::expected<std::unique_ptr<ServiceEmulator>, std::string> start() { return start(Config{}); }
  // Closes every connection (abruptly) and stops.
  ~ServiceEmulator();
  ServiceEmulator(const ServiceEmulator&) = delete;
  ServiceEmulator& operator=(const ServiceEmulator&) = delete;

  std::uint16_t port() const;
  // "http://127.0.0.1:<port>" (or https://): the value for OSKEL_OPENAI_API / OSKEL_API.
  std::string httpOrigin() const;
  // "ws://127.0.0.1:<port>" (or wss://).
  std::string websocketOrigin() const;
  // The PEM file of the test CA that signed the server certificate (tls), for
  // OSKEL_CA_FILE; empty without tls. Removed when the emulator stops.
  std::string caFile() const;

  // The script of every connection that has none of its own.
  void setScript(ConnectionScript script);
  // The script of the n-th connection (1-based, in order of upgrade requests).
  void setScript(std::size_t connectionIndex, ConnectionScript script);
  // A fixed answer of the models endpoint; nullopt: answer like the service.
  void setModelsResponse(std::optional<ModelsResponse> response);

  // Makes the n-th connection do something now. False when it is not open.
  bool perform(std::size_t connectionIndex, Action action);

  Snapshot snapshot() const;
  // Blocks until condition holds (checked after every change) or timeout
  // passes; returns whether it held. The condition runs under the records'
  // lock and must not call the emulator.
  bool waitUntil(const std::function<bool(const Snapshot&)>& condition,
                 std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

  struct Impl;

 private:
  explicit ServiceEmulator(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace oskel::emulator
