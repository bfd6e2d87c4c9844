#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "service/WebSocket.h"

namespace oskel::test {

// A scripted connection: records what the session sends and lets a test play
// the server (messages, failures) from its own thread.
class FakeConnection final : public WebSocketConnection {
 public:
  FakeConnection(std::size_t maxMessageBytes, bool holdCloses)
      : maxMessageBytes_(maxMessageBytes), holdCloses_(holdCloses) {}

  void start(Handlers handlers) override;
  void sendText(std::string text) override;
  void sendAudio(std::string text) override { sendText(std::move(text)); }
  // Counts the call and reports the close as done at once, or, when holding
  // closes, at finishClose().
  void close(std::function<void()> done) override;
  void finishClose();

  // Server side.
  void receive(const std::string& message);
  void fail(const std::string& description, std::optional<uint16_t> closeCode = std::nullopt);
  void reportBacklog(AudioBacklog backlog);

  std::size_t maxMessageBytes() const { return maxMessageBytes_; }
  bool started() const;
  bool closed() const;
  std::vector<std::string> sent() const;
  // The "type" of every sent message, in order.
  std::vector<std::string> sentTypes() const;
  // Decoded audio of every "session.input_audio_buffer.append" sent, in order.
  std::vector<std::vector<uint8_t>> appendedAudio() const;

 private:
  // A copy, so that a test calls into the session without holding the lock.
  Handlers handlers() const;

  const std::size_t maxMessageBytes_;
  const bool holdCloses_;
  mutable std::mutex mutex_;
  std::function<void()> closeDone_;
  Handlers handlers_;
  bool started_ = false;
  int closeCalls_ = 0;
  std::vector<std::string> sent_;
};

class FakeWebSocketClient final : public WebSocketClient {
 public:
  std::shared_ptr<WebSocketConnection> makeConnection(const HttpRequest& request, std::size_t maxMessageBytes) override;

  std::size_t count() const;
  // The n-th connection made (0-based); fails the test when there is none.
  std::shared_ptr<FakeConnection> at(std::size_t index) const;
  std::shared_ptr<FakeConnection> last() const;

  // Connections made from now on leave their close handshake open until
  // finishClose() (a peer slow to answer the close frame).
  std::atomic<bool> holdCloses{false};

 private:
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<FakeConnection>> connections_;
};

}  // namespace oskel::test
