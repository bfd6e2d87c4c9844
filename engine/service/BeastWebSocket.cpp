// The shipped WebSocket client: Boost.Beast over Asio, TLS by OpenSSL.
#include <atomic>
#include <deque>
#include <type_traits>

#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <fmt/format.h>

#include "log/Log.h"
#include "service/NetworkRuntime.h"
#include "service/Url.h"
#include "service/WebSocket.h"

namespace oskel {
namespace {

using namespace net;
namespace websocket = beast::websocket;
namespace http = beast::http;

// The closing handshake must not hang on a peer that never answers.
constexpr std::chrono::seconds closeTimeout{5};

// Room for a whole audio message of up to about a quarter of a second.
constexpr std::size_t writeBufferBytes = 16384;

void logSendFailure(const std::string& why) {
  Log::debug([&] { return "ws send failed: " + why; });
}

// What the public handle forwards to; everything but the flags runs on the
// network thread.
class SocketCore {
 public:
  virtual ~SocketCore() = default;
  virtual void begin(WebSocketConnection::Handlers handlers) = 0;
  virtual void enqueue(std::string text, bool audio) = 0;
  // `done` runs once the closing handshake is over or the socket ended.
  virtual void shutDown(std::function<void()> done) = 0;

  // Set at once by close() (any thread): nothing is delivered after it.
  std::atomic<bool> closed{false};
};

template <class NextLayer>
class BasicSocket final : public SocketCore, public std::enable_shared_from_this<BasicSocket<NextLayer>> {
  static constexpr bool tls = std::is_same_v<NextLayer, TlsStream>;

 public:
  BasicSocket(Url::Parts url, std::vector<std::pair<std::string, std::string>> headers,
              std::chrono::duration<double> timeout, std::size_t maxMessageBytes, std::shared_ptr<ssl::context> tlsContext)
      : url_(std::move(url)),
        headers_(std::move(headers)),
        timeout_(timeout),
        maxMessageBytes_(maxMessageBytes),
        tlsContext_(std::move(tlsContext)),
        ws_(makeStream()) {}

  void begin(WebSocketConnection::Handlers handlers) override {
    if (phase_ != Phase::idle) return;
    if (closed) {
      phase_ = Phase::finished;
      return;
    }
    handlers_ = std::move(handlers);
    phase_ = Phase::connecting;
    deadline_ = deadlineAfter(timeout_);
    dialer_ = TcpDialer::dial(beast::get_lowest_layer(ws_), url_.host, url_.port, deadline_,
                              [self = this->shared_from_this()](std::string failure) {
                                self->dialer_.reset();
                                self->connected(std::move(failure));
                              });
  }

  void enqueue(std::string text, bool audio) override {
    if (phase_ == Phase::finished || closeSent_) return logSendFailure("the connection is closed");
    if (audio) queuedAudio_ += text.size();
    outbox_.push_back({std::move(text), audio});
    if (audio) limitQueuedAudio();
    if (phase_ == Phase::open) writeNext();
  }

  void shutDown(std::function<void()> done) override {
    if (done) {
      if (phase_ == Phase::finished || phase_ == Phase::idle) {
        phase_ = Phase::finished;
        return done();
      }
      whenFinished_.push_back(std::move(done));
    }
    switch (phase_) {
      case Phase::idle:
        phase_ = Phase::finished;
        break;
      case Phase::connecting:
        // Aborts whatever step of the opening is pending; its handler finishes.
        if (dialer_) dialer_->cancel();
        beast::get_lowest_layer(ws_).close();
        break;
      case Phase::open:
        if (closeSent_) break;
        closeSent_ = true;
        dropQueuedMessages("the connection is closed");
        // The read loop ends when the peer answers (or at the close time-out).
        ws_.async_close(websocket::close_code::normal, [self = this->shared_from_this()](const ErrorCode&) {});
        break;
      case Phase::finished:
        break;
    }
  }

 private:
  enum class Phase { idle, connecting, open, finished };
  struct Outgoing {
    std::string text;
    bool audio = false;
  };

  websocket::stream<NextLayer> makeStream() {
    if constexpr (tls) {
      return websocket::stream<NextLayer>(ioContext(), *tlsContext_);
    } else {
      return websocket::stream<NextLayer>(ioContext());
    }
  }

  void connected(std::string failure) {
    if (closed) return finish();
    if (!failure.empty()) return fail(std::move(failure), std::nullopt);
    if (handlers_.sendBufferBytes > 0) {
      ErrorCode ignored;  // the system's buffer still works, only less tightly
      beast::get_lowest_layer(ws_).socket().set_option(
          asio::socket_base::send_buffer_size(static_cast<int>(handlers_.sendBufferBytes)), ignored);
    }
    if constexpr (tls) {
      if (const auto error = prepareTlsClient(ws_.next_layer(), url_.host))
        return fail(describeTlsFailure(error, ws_.next_layer(), url_.host), std::nullopt);
      ws_.next_layer().async_handshake(ssl::stream_base::client,
                                       [self = this->shared_from_this()](const ErrorCode& error) {
                                         if (self->closed) return self->finish();
                                         if (error)
                                           return self->fail(
                                               describeTlsFailure(error, self->ws_.next_layer(), self->url_.host),
                                               std::nullopt);
                                         self->upgrade();
                                       });
    } else {
      upgrade();
    }
  }

  void upgrade() {
    ws_.set_option(websocket::stream_base::decorator([headers = headers_](websocket::request_type& request) {
      request.set(http::field::user_agent, "Oskel");
      for (const auto& [name, value] : headers) request.set(name, value);
    }));
    ws_.read_message_max(maxMessageBytes_);
    // A client masks what it sends through this buffer, one write to the
    // socket per buffer-full: the default 4 KiB split every audio message
    // (6.4 KB for 100 ms) into two system calls.
    ws_.write_buffer_bytes(writeBufferBytes);
    ws_.async_handshake(upgradeResponse_, hostHeader(url_.host, url_.port, tls), url_.target,
                        [self = this->shared_from_this()](const ErrorCode& error) { self->upgraded(error); });
  }

  void upgraded(const ErrorCode& error) {
    if (error && closed) return finish();
    if (error == websocket::error::upgrade_declined)
      return fail(fmt::format("WebSocket upgrade refused: HTTP {}", upgradeResponse_.result_int()), std::nullopt);
    if (error == beast::error::timeout) return fail("timed out during the WebSocket handshake", std::nullopt);
    if (error) return fail("WebSocket handshake failed: " + error.message(), std::nullopt);

    // Open even when close() was called meanwhile: its pending shutDown then
    // sends the close frame, so the server learns the code.
    // From here on the WebSocket layer's own timer governs the closing handshake.
    beast::get_lowest_layer(ws_).expires_never();
    ws_.set_option(websocket::stream_base::timeout{closeTimeout, websocket::stream_base::none(), false});
    phase_ = Phase::open;
    writeNext();
    readNext();
  }

  void readNext() {
    ws_.async_read(buffer_, [self = this->shared_from_this()](const ErrorCode& error, std::size_t) {
      self->received(error);
    });
  }

  void received(const ErrorCode& error) {
    if (error && closed) return finish();
    if (closed) {
      // Closing: the pending shutDown sends the close frame; keep reading
      // until the peer answers it.
      buffer_.clear();
      return readNext();
    }
    if (error == websocket::error::closed) {
      const auto& reason = ws_.reason();
      auto description = fmt::format("closed by the server with code {}", static_cast<unsigned>(reason.code));
      if (!reason.reason.empty()) description += " (" + std::string(reason.reason.c_str()) + ")";
      return fail(std::move(description), static_cast<uint16_t>(reason.code));
    }
    if (error == websocket::error::message_too_big)
      return fail(fmt::format("received a message over the limit of {} bytes", maxMessageBytes_), std::nullopt);
    if (error) return fail("connection lost: " + error.message(), std::nullopt);

    auto bytes = beast::buffers_to_string(buffer_.data());
    buffer_.clear();
    if (handlers_.onMessage) handlers_.onMessage(std::move(bytes));
    readNext();
  }

  void writeNext() {
    if (writing_ || outbox_.empty() || closeSent_ || phase_ != Phase::open) return;
    writing_ = true;
    ws_.text(true);
    // The message being written leaves the outbox: dropping queued audio may
    // move the outbox's elements, never the buffer the socket is reading.
    inFlight_ = std::move(outbox_.front());
    outbox_.pop_front();
    if (inFlight_.audio) queuedAudio_ -= inFlight_.text.size();
    ws_.async_write(asio::buffer(inFlight_.text),
                    [self = this->shared_from_this()](const ErrorCode& error, std::size_t) {
                      self->writing_ = false;
                      self->inFlight_ = {};
                      if (error) logSendFailure(error.message());
                      self->endBacklogWhenDrained();
                      self->writeNext();
                    });
  }

  // On a link slower than the audio, the oldest queued audio goes first: late
  // speech is worth less than current speech, and latency must not grow.
  void limitQueuedAudio() {
    if (handlers_.queuedAudioLimit == 0 || queuedAudio_ <= handlers_.queuedAudioLimit) return;
    std::size_t dropped = 0;
    // The newest stays.
    for (std::size_t i = 0; queuedAudio_ > handlers_.queuedAudioLimit && i + 1 < outbox_.size();) {
      if (!outbox_[i].audio) {
        ++i;
        continue;
      }
      queuedAudio_ -= outbox_[i].text.size();
      outbox_.erase(outbox_.begin() + static_cast<std::ptrdiff_t>(i));
      ++dropped;
    }
    if (dropped == 0) return;
    dropping_ = true;
    if (handlers_.onAudioBacklog) handlers_.onAudioBacklog(AudioBacklog{true, dropped});
  }

  // An episode of dropping ends when no audio waits any more. Not sooner: a
  // stalled link's kernel buffers take a burst now and then (up to the send
  // buffer), which is no sign that the link keeps up again.
  void endBacklogWhenDrained() {
    if (!dropping_ || queuedAudio_ > 0) return;
    dropping_ = false;
    if (handlers_.onAudioBacklog && !closed) handlers_.onAudioBacklog(AudioBacklog{false, 0});
  }

  // Messages not yet handed to the socket.
  void dropQueuedMessages(const std::string& why) {
    while (!outbox_.empty()) {
      logSendFailure(why);
      if (outbox_.back().audio) queuedAudio_ -= outbox_.back().text.size();
      outbox_.pop_back();
    }
  }

  void fail(std::string description, std::optional<uint16_t> closeCode) {
    auto onFailure = std::move(handlers_.onFailure);
    finish();
    dropQueuedMessages(description);
    if (onFailure && !closed) onFailure(WebSocketFailure{std::move(description), closeCode});
  }

  void finish() {
    phase_ = Phase::finished;
    handlers_ = {};
    ErrorCode ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
    for (auto& done : std::exchange(whenFinished_, {})) done();
  }

  const Url::Parts url_;
  const std::vector<std::pair<std::string, std::string>> headers_;
  const std::chrono::duration<double> timeout_;
  const std::size_t maxMessageBytes_;
  const std::shared_ptr<ssl::context> tlsContext_;  // outlives the stream that uses it

  websocket::stream<NextLayer> ws_;
  WebSocketConnection::Handlers handlers_;
  Phase phase_ = Phase::idle;
  Deadline deadline_{};
  std::shared_ptr<TcpDialer> dialer_;
  websocket::response_type upgradeResponse_;
  beast::flat_buffer buffer_;
  std::deque<Outgoing> outbox_;  // not yet handed to the socket
  Outgoing inFlight_;
  std::size_t queuedAudio_ = 0;     // bytes of audio in the outbox, not being written
  bool dropping_ = false;           // in an episode of dropping audio
  std::vector<std::function<void()>> whenFinished_;
  bool writing_ = false;
  bool closeSent_ = false;
};

// A request that cannot be opened fails on the network thread like any other.
class UnusableSocket final : public SocketCore, public std::enable_shared_from_this<UnusableSocket> {
 public:
  explicit UnusableSocket(std::string why) : why_(std::move(why)) {}
  void begin(WebSocketConnection::Handlers handlers) override {
    if (!closed && handlers.onFailure) handlers.onFailure(WebSocketFailure{why_, std::nullopt});
  }
  void enqueue(std::string, bool) override { logSendFailure(why_); }
  void shutDown(std::function<void()> done) override {
    if (done) done();
  }

 private:
  std::string why_;
};

// The handle the owner holds. Releasing it closes the connection; the core
// lives on, kept by its pending operations, until the socket is done.
class BeastConnection final : public WebSocketConnection {
 public:
  explicit BeastConnection(std::shared_ptr<SocketCore> core) : core_(std::move(core)) {}
  ~BeastConnection() override { close({}); }

  void start(Handlers handlers) override {
    asio::post(ioContext(), [core = core_, handlers = std::move(handlers)]() mutable {
      core->begin(std::move(handlers));
    });
  }

  void sendText(std::string text) override { send(std::move(text), false); }
  void sendAudio(std::string text) override { send(std::move(text), true); }

  void close(std::function<void()> done) override {
    if (core_->closed.exchange(true) && !done) return;
    asio::post(ioContext(), [core = core_, done = std::move(done)]() mutable { core->shutDown(std::move(done)); });
  }

 private:
  void send(std::string text, bool audio) {
    asio::post(ioContext(),
               [core = core_, text = std::move(text), audio]() mutable { core->enqueue(std::move(text), audio); });
  }

  std::shared_ptr<SocketCore> core_;
};

class BeastClient final : public WebSocketClient {
 public:
  std::shared_ptr<WebSocketConnection> makeConnection(const HttpRequest& request,
                                                      std::size_t maxMessageBytes) override {
    return std::make_shared<BeastConnection>(makeCore(request, maxMessageBytes));
  }

 private:
  static std::shared_ptr<SocketCore> makeCore(const HttpRequest& request, std::size_t maxMessageBytes) {
    auto url = Url::parse(request.url);
    if (!url || (url->scheme != "ws" && url->scheme != "wss"))
      return std::make_shared<UnusableSocket>("not a WebSocket URL: " + request.url);
    if (url->scheme == "wss")
      return std::make_shared<BasicSocket<TlsStream>>(std::move(*url), request.headers, request.timeout,
                                                      maxMessageBytes, tlsClientContext());
    return std::make_shared<BasicSocket<beast::tcp_stream>>(std::move(*url), request.headers, request.timeout,
                                                            maxMessageBytes, nullptr);
  }
};

}  // namespace

std::shared_ptr<WebSocketClient> defaultWebSocketClient() {
  static const auto client = std::make_shared<BeastClient>();
  return client;
}

}  // namespace oskel
