// HTTP(S) requests over Beast, sharing the WebSocket client's network thread and TLS settings.
#include "service/HttpGet.h"

#include <type_traits>

#include <boost/asio/post.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/ssl.hpp>
#include <fmt/format.h>

#include "service/NetworkRuntime.h"
#include "service/Url.h"

namespace oskel {
namespace {

using namespace net;
namespace http = beast::http;

constexpr std::uint64_t maxBodyBytes = 1024 * 1024;

using Completion = std::function<void(std::expected<HttpResponse, std::string>)>;

template <class Stream>
class Exchange final : public std::enable_shared_from_this<Exchange<Stream>> {
  static constexpr bool tls = std::is_same_v<Stream, TlsStream>;

 public:
  Exchange(Url::Parts url, const HttpRequest& request, http::verb method, std::string body, Completion completion)
      : url_(std::move(url)), completion_(std::move(completion)), stream_(makeStream()) {
    request_.method(method);
    request_.target(url_.target);
    request_.version(11);
    request_.set(http::field::host, hostHeader(url_.host, url_.port, tls));
    request_.set(http::field::user_agent, "Oskel");
    request_.set(http::field::connection, "close");
    for (const auto& [name, value] : request.headers) request_.set(name, value);
    request_.body() = std::move(body);
    request_.prepare_payload();
    parser_.body_limit(maxBodyBytes);
    deadline_ = deadlineAfter(request.timeout);
  }

  void run() {
    dialer_ = TcpDialer::dial(beast::get_lowest_layer(stream_), url_.host, url_.port, deadline_,
                              [self = this->shared_from_this()](std::string failure) {
                                self->dialer_.reset();
                                if (!failure.empty()) return self->complete(std::unexpected(std::move(failure)));
                                self->connected();
                              });
  }

 private:
  Stream makeStream() {
    if constexpr (tls) {
      return Stream(ioContext(), *tlsContext_);
    } else {
      return Stream(ioContext());
    }
  }

  void connected() {
    if constexpr (tls) {
      if (const auto error = prepareTlsClient(stream_, url_.host))
        return complete(std::unexpected(describeTlsFailure(error, stream_, url_.host)));
      stream_.async_handshake(ssl::stream_base::client, [self = this->shared_from_this()](const ErrorCode& error) {
        if (error) return self->complete(std::unexpected(describeTlsFailure(error, self->stream_, self->url_.host)));
        self->send();
      });
    } else {
      send();
    }
  }

  void send() {
    http::async_write(stream_, request_, [self = this->shared_from_this()](const ErrorCode& error, std::size_t) {
      if (error) return self->complete(std::unexpected(self->describe("sending the request", error)));
      http::async_read(self->stream_, self->buffer_, self->parser_,
                       [self](const ErrorCode& readError, std::size_t) { self->received(readError); });
    });
  }

  void received(const ErrorCode& error) {
    if (error) return complete(std::unexpected(describe("reading the response", error)));
    auto& response = parser_.get();
    complete(HttpResponse{static_cast<int>(response.result_int()), std::move(response.body())});
  }

  std::string describe(const char* step, const ErrorCode& error) const {
    if (error == beast::error::timeout) return fmt::format("timed out {} from {}", step, url_.host);
    return fmt::format("failed {} from {}: {}", step, url_.host, error.message());
  }

  void complete(std::expected<HttpResponse, std::string> outcome) {
    ErrorCode ignored;
    beast::get_lowest_layer(stream_).socket().close(ignored);
    if (auto completion = std::exchange(completion_, nullptr)) completion(std::move(outcome));
  }

  const Url::Parts url_;
  Completion completion_;
  const std::shared_ptr<ssl::context> tlsContext_ = tls ? tlsClientContext() : nullptr;
  Stream stream_;
  Deadline deadline_{};
  std::shared_ptr<TcpDialer> dialer_;
  http::request<http::string_body> request_;
  beast::flat_buffer buffer_;
  http::response_parser<http::string_body> parser_;
};

}  // namespace

void httpGet(const HttpRequest& request, Completion completion) { httpSend(request, "GET", {}, std::move(completion)); }

void httpSend(const HttpRequest& request, const std::string& method, std::string body, Completion completion) {
  const auto fail = [&](std::string why) {
    asio::post(ioContext(), [completion = std::move(completion), why = std::move(why)] { completion(std::unexpected(why)); });
  };
  auto url = Url::parse(request.url);
  if (!url || (url->scheme != "http" && url->scheme != "https")) return fail("not an HTTP URL: " + request.url);
  const auto verb = http::string_to_verb(method);
  if (verb == http::verb::unknown) return fail("not an HTTP method: " + method);
  if (url->scheme == "https") {
    auto exchange =
        std::make_shared<Exchange<TlsStream>>(std::move(*url), request, verb, std::move(body), std::move(completion));
    asio::post(ioContext(), [exchange] { exchange->run(); });
  } else {
    auto exchange = std::make_shared<Exchange<beast::tcp_stream>>(std::move(*url), request, verb, std::move(body),
                                                                  std::move(completion));
    asio::post(ioContext(), [exchange] { exchange->run(); });
  }
}

}  // namespace oskel
