#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// What the service emulator does on one connection: the normal course of a
// translation session plus scripted deviations (errors, silence, closes, bad
// messages) at chosen moments.
namespace oskel::emulator {

using Milliseconds = std::chrono::milliseconds;

// The incoming message limit of the engine's client; one byte more fails it.
constexpr std::size_t clientMessageLimit = 4 * 1024 * 1024;

// A moment in the life of one emulated connection.
struct Trigger {
  enum class Kind {
    accepted,  // right after the WebSocket upgrade, before "session.created"
    created,   // right after "session.created" was sent
    updated,   // right after the first "session.updated" was sent
    blocks,    // when the n-th audio block was received (after its echo)
    elapsed,   // a delay after the upgrade
  };
  Kind kind = Kind::accepted;
  std::size_t blocks = 0;
  Milliseconds delay{0};

  static Trigger atAccept() { return {Kind::accepted, 0, {}}; }
  static Trigger afterCreated() { return {Kind::created, 0, {}}; }
  static Trigger afterUpdated() { return {Kind::updated, 0, {}}; }
  static Trigger afterBlocks(std::size_t n) { return {Kind::blocks, n, {}}; }
  static Trigger afterTime(Milliseconds delay) { return {Kind::elapsed, 0, delay}; }
};

// Something the emulator does to its client.
struct Action {
  enum class Kind {
    sendText,     // payload as one text message, verbatim
    sendBinary,   // payload as one binary message
    close,        // close frame with closeCode/closeReason (after what is queued)
    drop,         // abort the TCP connection without a close frame
    goSilent,     // send nothing at all from now on (still reads and counts)
    sendCreated,  // "session.created" now, with the script's expiry
    sendUpdated,  // "session.updated" now
    sendClosed,   // "session.closed" now
    stopReading,  // read nothing more until resumeReading: a client on a slow uplink backs up
    resumeReading,
  };
  Kind kind = Kind::sendText;
  std::string payload;
  std::uint16_t closeCode = 1000;
  std::string closeReason;

  static Action text(std::string message) { return make(Kind::sendText, std::move(message)); }
  static Action binary(std::string bytes) { return make(Kind::sendBinary, std::move(bytes)); }
  // {"type":"error","error":{"type":"server_error","message":message}}
  static Action error(const std::string& message);
  // {"type":"error","error":text} (the error member is a plain string)
  static Action errorString(const std::string& text);
  // Text that is not JSON at all.
  static Action malformed() { return text("{\"type\": \"session.output_audio.delta\", \"delta\": "); }
  // Valid JSON that is not an object.
  static Action nonObject() { return text("[\"session.updated\", 1, 2]"); }
  // A JSON object without a string "type".
  static Action withoutType() { return text("{\"type\":7,\"delta\":\"AAAA\"}"); }
  // A valid JSON object of exactly `bytes` bytes (an unknown type padded
  // out); at least 40 bytes, smaller sizes give the bare object.
  static Action padded(std::size_t bytes);
  // One byte over the client's limit.
  static Action oversized() { return padded(clientMessageLimit + 1); }
  static Action outputAudio(std::span<const std::uint8_t> pcm16);
  static Action outputTranscript(const std::string& delta);
  static Action inputTranscript(const std::string& delta);
  static Action close(std::uint16_t code, std::string reason = {}) {
    return make(Kind::close, {}, code, std::move(reason));
  }
  static Action drop() { return make(Kind::drop); }
  static Action goSilent() { return make(Kind::goSilent); }
  static Action created() { return make(Kind::sendCreated); }
  static Action updated() { return make(Kind::sendUpdated); }
  static Action closed() { return make(Kind::sendClosed); }
  static Action stopReading() { return make(Kind::stopReading); }
  static Action resumeReading() { return make(Kind::resumeReading); }

 private:
  static Action make(Kind kind, std::string payload = {}, std::uint16_t code = 1000, std::string reason = {}) {
    return Action{kind, std::move(payload), code, std::move(reason)};
  }
};

struct Step {
  Trigger when;
  Action what;
};

struct ConnectionScript {
  // Answer the upgrade request with this HTTP status instead of accepting it.
  std::optional<int> refuseUpgrade;
  // "session.created" right after the upgrade.
  bool sendCreated = true;
  // Default "sess_emu_" + the connection's index.
  std::optional<std::string> sessionID;
  // "expires_at" of "session.created": an absolute time wins over a delay
  // from now; neither means the member is absent.
  std::optional<std::chrono::duration<double>> expiresIn = std::chrono::seconds(1800);
  std::optional<std::chrono::system_clock::time_point> expiresAt;
  // Delay of "session.updated" after "session.update" (direct path) or after
  // "session.created" (relay path). None: never, unless an Action sends it.
  std::optional<Milliseconds> updatedDelay = Milliseconds(0);
  // Play each received audio block back as "session.output_audio.delta", with
  // transcript deltas naming what arrived ("[es] 100 ms of audio ").
  bool echo = true;
  // Delay of "session.closed" after "session.close". None: never.
  std::optional<Milliseconds> closedDelay = Milliseconds(0);
  // Scripted deviations, performed in order when their moment comes.
  std::vector<Step> steps;

  ConnectionScript& at(Trigger when, Action what) {
    steps.push_back({when, std::move(what)});
    return *this;
  }
};

// A fixed answer of the models endpoint (key check), whatever the key.
struct ModelsResponse {
  int status = 200;
  std::string body;
  std::string contentType = "application/json";
};

}  // namespace oskel::emulator
