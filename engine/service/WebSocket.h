#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// The narrow WebSocket port the translation session uses. The shipped adapter
// is Boost.Beast over Asio with OpenSSL; unit tests substitute a double.
namespace oskel {

struct HttpRequest {
  std::string url;  // ws://, wss://, http:// or https://
  std::vector<std::pair<std::string, std::string>> headers;
  std::chrono::duration<double> timeout{60.0};
};

// Outgoing audio the link could not keep up with: reported each time queued
// audio over the limit was dropped, and once when the backlog has drained.
struct AudioBacklog {
  bool dropping = false;            // false: the episode of dropping is over
  std::size_t droppedMessages = 0;  // dropped just now
};

struct WebSocketFailure {
  std::string description;
  // The close code the peer sent when it closed the connection, if any.
  std::optional<uint16_t> closeCode;
};

// One connection attempt. Handlers run on a transport thread, one at a time
// and in arrival order; onFailure runs at most once and nothing follows it.
class WebSocketConnection {
 public:
  struct Handlers {
    std::function<void(std::string bytes)> onMessage;  // text (UTF-8) or binary payload
    std::function<void(WebSocketFailure)> onFailure;   // connect, handshake or receive failure
    std::function<void(AudioBacklog)> onAudioBacklog;  // optional
    // Bytes of audio messages that may wait in the outbox (the one being
    // written excluded); beyond it the oldest are dropped. 0: no limit.
    std::size_t queuedAudioLimit = 0;
    // The kernel's send buffer for the socket; 0 leaves the system's, which
    // grows to megabytes. A small one keeps a slow link's backlog in the
    // outbox, where the limit above can see it.
    std::size_t sendBufferBytes = 0;
  };

  virtual ~WebSocketConnection() = default;

  // Connects, performs the handshake and keeps receiving until failure or close.
  virtual void start(Handlers handlers) = 0;
  // Queues one text message; a failed send is only logged (debug).
  virtual void sendText(std::string text) = 0;
  // Queues one text message carrying audio: it goes out in order with the
  // others but may be dropped under the handlers' queuedAudioLimit.
  virtual void sendAudio(std::string text) = 0;
  // Closes with code 1000 and no reason. Idempotent. `done` (optional) runs
  // once on a transport thread when the closing handshake is over, or the
  // socket ended otherwise. A handler already running may still finish;
  // callers ignore anything that arrives after close().
  virtual void close(std::function<void()> done = {}) = 0;
};

class WebSocketClient {
 public:
  virtual ~WebSocketClient() = default;
  // Creates a connection for the request; nothing happens before start().
  virtual std::shared_ptr<WebSocketConnection> makeConnection(const HttpRequest& request,
                                                              std::size_t maxMessageBytes) = 0;
};

// The process-wide real client (Beast/Asio/OpenSSL, verifies certificates
// against the system store plus any extra CA file named by OSKEL_CA_FILE).
std::shared_ptr<WebSocketClient> defaultWebSocketClient();

}  // namespace oskel
