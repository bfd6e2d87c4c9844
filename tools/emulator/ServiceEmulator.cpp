// The emulator's sockets: HTTP and WebSocket over Beast, optional TLS, on one thread.
#include "emulator/ServiceEmulator.h"

#include <pthread.h>
#include <stdlib.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>
#include <type_traits>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/json/serialize.hpp>
#include <boost/json/value.hpp>
#include <fmt/format.h>

#include "emulator/EmulatedSession.h"
#include "emulator/TestCertificates.h"

namespace oskel::emulator {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace ssl = asio::ssl;
using tcp = asio::ip::tcp;
using ErrorCode = boost::system::error_code;
using Request = http::request<http::string_body>;
using PlainStream = beast::tcp_stream;
using TlsStream = ssl::stream<beast::tcp_stream>;

constexpr const char* directPath = "/v1/realtime/translations";
constexpr const char* relayPath = "/v1/translate";
constexpr const char* modelsPath = "/v1/models";
constexpr std::chrono::seconds requestTimeout{30};
constexpr std::chrono::seconds closeTimeout{5};
// The emulator itself accepts far more than the client so that tests of the
// client's limit are never cut short here.
constexpr std::size_t serverMessageLimit = 64 * 1024 * 1024;

std::string pathOf(std::string_view target) { return std::string(target.substr(0, target.find('?'))); }

std::string percentDecode(std::string_view text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size()) {
      const auto hex = std::string(text.substr(i + 1, 2));
      char* end = nullptr;
      const long value = std::strtol(hex.c_str(), &end, 16);
      if (end == hex.c_str() + 2) {
        out.push_back(static_cast<char>(value));
        i += 2;
        continue;
      }
    }
    out.push_back(text[i]);
  }
  return out;
}

std::map<std::string, std::string> queryOf(std::string_view target) {
  std::map<std::string, std::string> items;
  const auto mark = target.find('?');
  if (mark == std::string_view::npos) return items;
  std::string_view rest = target.substr(mark + 1);
  while (!rest.empty()) {
    const auto amp = rest.find('&');
    const auto item = rest.substr(0, amp);
    const auto eq = item.find('=');
    items[percentDecode(item.substr(0, eq))] = eq == std::string_view::npos ? "" : percentDecode(item.substr(eq + 1));
    rest = amp == std::string_view::npos ? std::string_view{} : rest.substr(amp + 1);
  }
  return items;
}

std::string bearerOf(const Request& request) {
  const auto value = request[http::field::authorization];
  constexpr std::string_view prefix = "Bearer ";
  if (!value.starts_with(prefix)) return {};
  return std::string(value.substr(prefix.size()));
}

std::string errorBody(const std::string& message, const char* code) {
  boost::json::object error{{"message", message}, {"type", "invalid_request_error"}, {"param", nullptr}};
  error["code"] = code ? boost::json::value(code) : boost::json::value(nullptr);
  return boost::json::serialize(boost::json::object{{"error", std::move(error)}});
}

std::string redactedKey(const std::string& key) {
  if (key.size() <= 8) return "****";
  return key.substr(0, 3) + "****" + key.substr(key.size() - 4);
}

class LivePeer {
 public:
  virtual ~LivePeer() = default;
  virtual void perform(Action action) = 0;
};

}  // namespace

struct ServiceEmulator::Impl {
  Config config;
  Records records;
  std::optional<ssl::context> tls;
  std::filesystem::path caDirectory;
  std::string caPath;
  std::uint16_t port = 0;

  mutable std::mutex mutex;  // guards the four members below
  ConnectionScript defaultScript;
  std::map<std::size_t, ConnectionScript> scripts;
  std::optional<ModelsResponse> modelsResponse;
  std::map<std::size_t, std::weak_ptr<LivePeer>> live;

  // Declared last: destroyed first, taking every pending connection with it.
  asio::io_context io{1};
  tcp::acceptor acceptor{io};
  std::thread thread;

  ~Impl() {
    io.stop();
    if (thread.joinable()) thread.join();
    std::error_code ignored;
    if (!caDirectory.empty()) std::filesystem::remove_all(caDirectory, ignored);
  }

  void log(const std::string& line) const {
    if (config.log) config.log(line);
  }

  ConnectionScript scriptFor(std::size_t index) const {
    std::lock_guard guard(mutex);
    if (auto found = scripts.find(index); found != scripts.end()) return found->second;
    return defaultScript;
  }

  std::optional<ModelsResponse> fixedModelsResponse() const {
    std::lock_guard guard(mutex);
    return modelsResponse;
  }

  void setLive(std::size_t index, std::weak_ptr<LivePeer> peer) {
    std::lock_guard guard(mutex);
    if (peer.expired()) {
      live.erase(index);
    } else {
      live[index] = std::move(peer);
    }
  }

  void acceptNext();
};

namespace {

using Impl = ServiceEmulator::Impl;

// One accepted WebSocket: the wire under an EmulatedSession.
template <class Stream>
class WebSocketPeer final : public LivePeer, public Wire, public std::enable_shared_from_this<WebSocketPeer<Stream>> {
 public:
  WebSocketPeer(Impl& impl, Stream&& stream, Request request, EmulatedSession::Setup setup)
      : impl_(impl),
        ws_(std::move(stream)),
        request_(std::move(request)),
        index_(setup.index),
        session_(*this, impl.records, std::move(setup)) {}

  void accept() {
    beast::get_lowest_layer(ws_).expires_never();
    ws_.set_option(websocket::stream_base::timeout{closeTimeout, websocket::stream_base::none(), false});
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, "oskel-service-emulator"); }));
    ws_.read_message_max(serverMessageLimit);
    ws_.async_accept(request_, [self = this->shared_from_this()](const ErrorCode& error) {
      if (error) {
        self->impl_.log(fmt::format("#{} upgrade failed: {}", self->index_, error.message()));
        return self->end(std::nullopt);
      }
      self->impl_.setLive(self->index_, self->weak_from_this());
      self->impl_.log(fmt::format("#{} open {}", self->index_, std::string(self->request_.target())));
      self->session_.opened();
      self->readNext();
    });
  }

  void perform(Action action) override {
    asio::post(impl_.io, [self = this->shared_from_this(), action = std::move(action)] {
      if (!self->ended_) self->session_.perform(action);
    });
  }

  void sendText(std::string text) override { queue({Outgoing::Kind::text, std::move(text)}); }
  void sendBinary(std::string bytes) override { queue({Outgoing::Kind::binary, std::move(bytes)}); }
  void close(std::uint16_t code, std::string reason) override {
    impl_.log(fmt::format("#{} closing with {}", index_, code));
    queue({Outgoing::Kind::close, std::move(reason), code});
  }

  void drop() override {
    impl_.log(fmt::format("#{} dropping the connection", index_));
    auto& socket = beast::get_lowest_layer(ws_).socket();
    ErrorCode ignored;
    socket.set_option(tcp::socket::linger(true, 0), ignored);
    socket.close(ignored);
  }

  void setReading(bool reading) override {
    impl_.log(fmt::format("#{} {} reading", index_, reading ? "resumes" : "stops"));
    paused_ = !reading;
    // With no read pending, only this wait keeps the peer (and its socket)
    // alive while it reads nothing.
    if (paused_) {
      pause_.expires_at(asio::steady_timer::time_point::max());
      pause_.async_wait([self = this->shared_from_this()](const ErrorCode&) {});
    } else {
      pause_.cancel();
    }
    if (reading && !readPending_ && !ended_) readNext();
  }

  void after(Milliseconds delay, std::function<void()> task) override {
    auto timer = std::make_shared<asio::steady_timer>(ws_.get_executor(), delay);
    timer->async_wait([weak = this->weak_from_this(), timer, task = std::move(task)](const ErrorCode& error) {
      const auto self = weak.lock();
      if (error || !self || self->ended_) return;
      task();
    });
  }

 private:
  struct Outgoing {
    enum class Kind { text, binary, close };
    Kind kind;
    std::string payload;
    std::uint16_t code = 1000;
  };

  void queue(Outgoing message) {
    if (ended_ || closeQueued_) return;
    if (message.kind == Outgoing::Kind::close) closeQueued_ = true;
    outbox_.push_back(std::move(message));
    writeNext();
  }

  void writeNext() {
    if (writing_ || outbox_.empty() || ended_) return;
    writing_ = true;
    auto& next = outbox_.front();
    if (next.kind == Outgoing::Kind::close) {
      ws_.async_close(websocket::close_reason(static_cast<websocket::close_code>(next.code), next.payload),
                      [self = this->shared_from_this()](const ErrorCode&) {
                        self->writing_ = false;
                        self->outbox_.clear();
                      });
      return;
    }
    ws_.text(next.kind == Outgoing::Kind::text);
    ws_.async_write(asio::buffer(next.payload), [self = this->shared_from_this()](const ErrorCode& error, std::size_t) {
      self->writing_ = false;
      self->outbox_.pop_front();
      if (error) return;  // the read loop notices the broken connection
      self->writeNext();
    });
  }

  void readNext() {
    if (paused_) return;
    readPending_ = true;
    ws_.async_read(buffer_, [self = this->shared_from_this()](const ErrorCode& error, std::size_t) {
      self->readPending_ = false;
      if (error) {
        std::optional<std::uint16_t> code;
        if (error == websocket::error::closed) code = static_cast<std::uint16_t>(self->ws_.reason().code);
        self->impl_.log(fmt::format("#{} finished: {}{}", self->index_, error.message(),
                                    code ? fmt::format(" (client close code {})", *code) : ""));
        return self->end(code);
      }
      const auto bytes = beast::buffers_to_string(self->buffer_.data());
      self->buffer_.clear();
      self->session_.received(bytes, !self->ws_.got_text());
      self->readNext();
    });
  }

  void end(std::optional<std::uint16_t> clientCloseCode) {
    if (ended_) return;
    ended_ = true;
    pause_.cancel();
    impl_.setLive(index_, {});
    session_.ended(clientCloseCode);
    ErrorCode ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
  }

  Impl& impl_;
  websocket::stream<Stream> ws_;
  Request request_;
  std::size_t index_;
  EmulatedSession session_;
  beast::flat_buffer buffer_;
  std::deque<Outgoing> outbox_;
  bool writing_ = false;
  bool closeQueued_ = false;
  bool ended_ = false;
  bool paused_ = false;  // not reading (a slow uplink)
  asio::steady_timer pause_{ws_.get_executor()};
  bool readPending_ = false;
};

// One accepted TCP connection until its first request is routed.
template <class Stream>
class HttpPeer final : public std::enable_shared_from_this<HttpPeer<Stream>> {
  static constexpr bool tls = std::is_same_v<Stream, TlsStream>;

 public:
  HttpPeer(Impl& impl, Stream&& stream) : impl_(impl), stream_(std::move(stream)) {}

  void start() {
    beast::get_lowest_layer(stream_).expires_after(requestTimeout);
    if constexpr (tls) {
      stream_.async_handshake(ssl::stream_base::server, [self = this->shared_from_this()](const ErrorCode& error) {
        if (error) return self->impl_.log("TLS handshake failed: " + error.message());
        self->readRequest();
      });
    } else {
      readRequest();
    }
  }

 private:
  void readRequest() {
    parser_.body_limit(64 * 1024);
    http::async_read(stream_, buffer_, parser_, [self = this->shared_from_this()](const ErrorCode& error, std::size_t) {
      if (error) return;
      self->route(self->parser_.release());
    });
  }

  void route(Request request) {
    const auto path = pathOf(request.target());
    if (websocket::is_upgrade(request)) {
      if (path == directPath || path == relayPath) return upgrade(std::move(request), path == relayPath);
      return respond(404, errorBody("unknown path " + path, nullptr));
    }
    if (path == modelsPath) {
      if (request.method() != http::verb::get) return respond(405, errorBody("method not allowed", nullptr));
      return models(request);
    }
    respond(404, errorBody("unknown path " + path, nullptr));
  }

  void upgrade(Request request, bool relay) {
    ConnectionRecord record;
    record.target = std::string(request.target());
    record.path = pathOf(record.target);
    record.query = queryOf(record.target);
    record.relay = relay;
    for (const auto& field : request)
      record.headers.emplace_back(std::string(field.name_string()), std::string(field.value()));
    const auto query = record.query;
    const auto index = impl_.records.addConnection(std::move(record));
    const auto script = impl_.scriptFor(index);
    const auto bearer = bearerOf(request);

    const auto refuse = [&](int status, const std::string& body) {
      impl_.log(fmt::format("#{} upgrade refused with {}", index, status));
      impl_.records.update(index, [&](ConnectionRecord& r) {
        r.refusedStatus = status;
        r.finished = true;
      });
      respond(status, body);
    };
    if (bearer.empty())
      return refuse(401, errorBody("You didn't provide an API key. Send it as a Bearer token in the Authorization "
                                   "header.",
                                   nullptr));
    if (script.refuseUpgrade) return refuse(*script.refuseUpgrade, errorBody("refused by the emulator's script", nullptr));
    if (!relay && !impl_.config.acceptedKeys.empty() && !impl_.config.acceptedKeys.contains(bearer))
      return refuse(401, errorBody("Incorrect API key provided: " + redactedKey(bearer), "invalid_api_key"));
    const auto item = [&](const char* name) {
      const auto found = query.find(name);
      return found == query.end() ? std::optional<std::string>() : found->second;
    };
    if (relay && (!item("to") || !item("transcribe") || !item("token")))
      return refuse(400, errorBody("to, transcribe and token are required", nullptr));
    EmulatedSession::Setup setup;
    setup.rejectToken =
        relay && !impl_.config.acceptedTokens.empty() && !impl_.config.acceptedTokens.contains(*item("token"));
    setup.index = index;
    setup.relay = relay;
    setup.language = relay ? *item("to") : "";
    setup.model = relay ? "" : item("model").value_or("");
    setup.script = script;
    auto peer =
        std::make_shared<WebSocketPeer<Stream>>(impl_, std::move(stream_), std::move(request), std::move(setup));
    peer->accept();
  }

  void models(const Request& request) {
    const auto bearer = bearerOf(request);
    ModelsResponse answer;
    if (auto fixed = impl_.fixedModelsResponse()) {
      answer = std::move(*fixed);
    } else if (bearer.empty()) {
      answer = {401, errorBody("You didn't provide an API key.", nullptr)};
    } else if (!impl_.config.acceptedKeys.empty() && !impl_.config.acceptedKeys.contains(bearer)) {
      answer = {401, errorBody("Incorrect API key provided: " + redactedKey(bearer), "invalid_api_key")};
    } else {
      answer = {200, R"({"object":"list","data":[{"id":"gpt-realtime-translate","object":"model","owned_by":"system"}]})"};
    }
    impl_.records.addModelsRequest(
        {std::string(request.target()), std::string(request[http::field::authorization]), answer.status});
    impl_.log(fmt::format("models request answered {}", answer.status));
    respond(answer.status, std::move(answer.body), answer.contentType);
  }

  void respond(int status, std::string body, const std::string& contentType = "application/json") {
    response_.result(static_cast<unsigned>(status));
    response_.version(11);
    response_.set(http::field::server, "oskel-service-emulator");
    if (!body.empty()) response_.set(http::field::content_type, contentType);
    response_.body() = std::move(body);
    response_.keep_alive(false);
    response_.prepare_payload();
    http::async_write(stream_, response_, [self = this->shared_from_this()](const ErrorCode&, std::size_t) {
      ErrorCode ignored;
      beast::get_lowest_layer(self->stream_).socket().shutdown(tcp::socket::shutdown_send, ignored);
    });
  }

  Impl& impl_;
  Stream stream_;
  beast::flat_buffer buffer_;
  http::request_parser<http::string_body> parser_;
  http::response<http::string_body> response_;
};

}  // namespace

void ServiceEmulator::Impl::acceptNext() {
  acceptor.async_accept([this](const ErrorCode& error, tcp::socket socket) {
    if (error == asio::error::operation_aborted || !acceptor.is_open()) return;
    if (!error) {
      ErrorCode ignored;
      socket.set_option(tcp::no_delay(true), ignored);
      if (tls) {
        std::make_shared<HttpPeer<TlsStream>>(*this, TlsStream(std::move(socket), *tls))->start();
      } else {
        std::make_shared<HttpPeer<PlainStream>>(*this, PlainStream(std::move(socket)))->start();
      }
    }
    acceptNext();
  });
}

ServiceEmulator::ServiceEmulator(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

ServiceEmulator::~ServiceEmulator() = default;

std::expected<std::unique_ptr<ServiceEmulator>, std::string> ServiceEmulator::start(Config config) {
  auto impl = std::make_unique<Impl>();
  impl->config = std::move(config);

  if (impl->config.tls) {
    auto certificates = makeTestCertificates(impl->config.certificateNames);
    if (!certificates) return std::unexpected("cannot make the test certificates: " + certificates.error());
    std::string pattern = (std::filesystem::temp_directory_path() / "oskel-emulator-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) return std::unexpected("cannot create a folder for the test CA");
    impl->caDirectory = pattern;
    impl->caPath = (impl->caDirectory / "ca.pem").string();
    std::ofstream(impl->caPath) << certificates->caPem;
    ErrorCode error;
    impl->tls.emplace(ssl::context::tls_server);
    impl->tls->use_certificate_chain(asio::buffer(certificates->serverPem), error);
    if (!error) impl->tls->use_private_key(asio::buffer(certificates->serverKeyPem), ssl::context::pem, error);
    if (error) return std::unexpected("cannot use the test certificate: " + error.message());
  }

  ErrorCode error;
  const tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"), impl->config.port);
  impl->acceptor.open(endpoint.protocol(), error);
  if (!error) impl->acceptor.set_option(asio::socket_base::reuse_address(true), error);
  // Before listen(): accepted connections inherit it, and the window they
  // offer is sized for it from the first byte (a later shrink would make the
  // kernel drop what it had already let in).
  if (!error && impl->config.receiveBufferBytes > 0)
    impl->acceptor.set_option(asio::socket_base::receive_buffer_size(impl->config.receiveBufferBytes), error);
  if (!error) impl->acceptor.bind(endpoint, error);
  if (!error) impl->acceptor.listen(asio::socket_base::max_listen_connections, error);
  if (error) return std::unexpected(fmt::format("cannot listen on 127.0.0.1:{}: {}", impl->config.port, error.message()));

  impl->port = impl->acceptor.local_endpoint(error).port();
  impl->acceptNext();
  impl->thread = std::thread([raw = impl.get()] {
    pthread_setname_np(pthread_self(), "oskel.emulator");
    raw->io.run();
  });
  return std::unique_ptr<ServiceEmulator>(new ServiceEmulator(std::move(impl)));
}

std::uint16_t ServiceEmulator::port() const { return impl_->port; }

std::string ServiceEmulator::httpOrigin() const {
  return fmt::format("{}://127.0.0.1:{}", impl_->tls ? "https" : "http", port());
}

std::string ServiceEmulator::websocketOrigin() const {
  return fmt::format("{}://127.0.0.1:{}", impl_->tls ? "wss" : "ws", port());
}

std::string ServiceEmulator::caFile() const { return impl_->caPath; }

void ServiceEmulator::setScript(ConnectionScript script) {
  std::lock_guard guard(impl_->mutex);
  impl_->defaultScript = std::move(script);
}

void ServiceEmulator::setScript(std::size_t connectionIndex, ConnectionScript script) {
  std::lock_guard guard(impl_->mutex);
  impl_->scripts[connectionIndex] = std::move(script);
}

void ServiceEmulator::setModelsResponse(std::optional<ModelsResponse> response) {
  std::lock_guard guard(impl_->mutex);
  impl_->modelsResponse = std::move(response);
}

bool ServiceEmulator::perform(std::size_t connectionIndex, Action action) {
  std::shared_ptr<LivePeer> peer;
  {
    std::lock_guard guard(impl_->mutex);
    if (auto found = impl_->live.find(connectionIndex); found != impl_->live.end()) peer = found->second.lock();
  }
  if (!peer) return false;
  peer->perform(std::move(action));
  return true;
}

Snapshot ServiceEmulator::snapshot() const { return impl_->records.snapshot(); }

bool ServiceEmulator::waitUntil(const std::function<bool(const Snapshot&)>& condition,
                                std::chrono::milliseconds timeout) const {
  return impl_->records.waitUntil(condition, timeout);
}

}  // namespace oskel::emulator
