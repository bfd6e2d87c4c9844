#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What the service emulator saw, readable by tests while it runs.
namespace oskel::emulator {

// One WebSocket upgrade request on a translation path and what followed.
struct ConnectionRecord {
  std::size_t index = 0;  // 1-based, in order of upgrade requests
  std::string target;     // path and query as requested
  std::string path;
  std::map<std::string, std::string> query;  // decoded query items
  std::vector<std::pair<std::string, std::string>> headers;
  bool relay = false;                // "/v1/translate" rather than the direct path
  std::optional<int> refusedStatus;  // the upgrade was answered with this status
  std::string sessionID;
  std::string language;  // the target language as configured so far
  // "type" of every received message in order; "(not json)", "(not an
  // object)" or "(no type)" for the others, "(binary)" for binary ones.
  std::vector<std::string> receivedTypes;
  // "type" of every message sent (or the first bytes of an unparseable one).
  std::vector<std::string> sentTypes;
  std::optional<std::string> sessionUpdate;  // the last "session.update" as received
  std::size_t audioBlocks = 0;               // "session.input_audio_buffer.append" messages
  std::size_t audioBytes = 0;                // decoded PCM16 bytes in them
  bool open = false;                         // upgraded and not finished yet
  bool finished = false;
  std::optional<std::uint16_t> clientCloseCode;  // the client's close frame

  // Value of a request header (case-insensitive name), or empty.
  std::string header(const std::string& name) const;
  std::size_t countReceived(const std::string& type) const;
};

// One request to the models endpoint.
struct ModelsRequest {
  std::string target;
  std::string authorization;  // the header as received, empty when absent
  int status = 0;             // what the emulator answered
};

struct Snapshot {
  std::vector<ConnectionRecord> connections;
  std::vector<ModelsRequest> modelsRequests;

  std::size_t totalAudioBlocks() const;
  std::size_t totalAudioBytes() const;
  // The record of the n-th connection (1-based), if it exists.
  const ConnectionRecord* connection(std::size_t index) const;
};

// Thread-safe store of the records; wakes waiters on every change.
class Records {
 public:
  std::size_t addConnection(ConnectionRecord record);  // returns its index
  void update(std::size_t index, const std::function<void(ConnectionRecord&)>& change);
  void addModelsRequest(ModelsRequest request);

  Snapshot snapshot() const;
  // Evaluates condition under the records' lock after every change until it
  // holds or timeout passes. The condition must not call back into the emulator.
  bool waitUntil(const std::function<bool(const Snapshot&)>& condition, std::chrono::milliseconds timeout) const;

 private:
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  Snapshot data_;
};

}  // namespace oskel::emulator
