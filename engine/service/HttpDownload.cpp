// Streaming HTTP(S) download over Beast into a file, sharing the network
// thread, the dialer and the TLS settings of the other adapters.
#include "service/HttpDownload.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
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
using Failure = HttpDownload::Failure;

// Reading stops making progress this long before the transfer is given up,
// for owners that do not watch progress themselves.
constexpr std::chrono::seconds bodyIdleLimit{120};

template <class Stream>
class Transfer final : public HttpDownload, public std::enable_shared_from_this<Transfer<Stream>> {
  static constexpr bool tls = std::is_same_v<Stream, TlsStream>;

 public:
  Transfer(Url::Parts url, Request request, Progress progress, Completion completion)
      : url_(std::move(url)),
        request_(std::move(request)),
        progress_(std::move(progress)),
        completion_(std::move(completion)),
        stream_(makeStream()) {
    head_.method(http::verb::get);
    head_.target(url_.target);
    head_.version(11);
    head_.set(http::field::host, hostHeader(url_.host, url_.port, tls));
    head_.set(http::field::user_agent, "Oskel");
    head_.set(http::field::connection, "close");
    parser_.body_limit(boost::none);  // the limit is ours (maxBytes), checked as the body arrives
    deadline_ = deadlineAfter(request_.connectTimeout);
  }

  ~Transfer() override { closeFile(); }

  void run() {
    if (cancelled_) return complete(std::unexpected(Failure{"cancelled", true}));
    dialer_ = TcpDialer::dial(beast::get_lowest_layer(stream_), url_.host, url_.port, deadline_,
                              [self = this->shared_from_this()](std::string failure) {
                                self->dialer_.reset();
                                if (self->cancelled_) return self->complete(std::unexpected(Failure{"cancelled", true}));
                                if (!failure.empty()) return self->complete(std::unexpected(Failure{std::move(failure)}));
                                self->connected();
                              });
  }

  void cancel() override {
    cancelled_ = true;
    asio::post(ioContext(), [weak = this->weak_from_this()] {
      auto self = weak.lock();
      if (!self) return;
      if (self->dialer_) self->dialer_->cancel();
      ErrorCode ignored;
      beast::get_lowest_layer(self->stream_).socket().cancel(ignored);
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
        return complete(std::unexpected(Failure{describeTlsFailure(error, stream_, url_.host)}));
      stream_.async_handshake(ssl::stream_base::client, [self = this->shared_from_this()](const ErrorCode& error) {
        if (error) return self->fail("", error, [&] { return describeTlsFailure(error, self->stream_, self->url_.host); });
        self->send();
      });
    } else {
      send();
    }
  }

  void send() {
    beast::get_lowest_layer(stream_).expires_at(deadline_);
    http::async_write(stream_, head_, [self = this->shared_from_this()](const ErrorCode& error, std::size_t) {
      if (error) return self->fail("sending the request", error);
      http::async_read_header(self->stream_, self->buffer_, self->parser_,
                              [self](const ErrorCode& readError, std::size_t) { self->headerRead(readError); });
    });
  }

  void headerRead(const ErrorCode& error) {
    if (error) return fail("reading the response", error);
    if (cancelled_) return complete(std::unexpected(Failure{"cancelled", true}));
    const auto status = parser_.get().result_int();
    if (status < 200 || status > 299) return complete(std::unexpected(Failure{fmt::format("HTTP status {}", status)}));
    if (const auto length = parser_.content_length()) total_ = *length;
    if (request_.maxBytes && total_ > request_.maxBytes)
      return complete(std::unexpected(
          Failure{fmt::format("the server announced {} bytes, more than the expected {}", total_, request_.maxBytes)}));
    file_ = std::fopen(request_.file.c_str(), "wb");
    if (!file_)
      return complete(std::unexpected(
          Failure{fmt::format("could not write {}: {}", request_.file.string(), std::strerror(errno))}));
    if (progress_) progress_(0, total_);
    readBody();
  }

  void readBody() {
    if (parser_.is_done()) return complete(received_);
    auto& body = parser_.get().body();
    body.data = chunk_.data();
    body.size = chunk_.size();
    beast::get_lowest_layer(stream_).expires_after(bodyIdleLimit);
    http::async_read_some(stream_, buffer_, parser_, [self = this->shared_from_this()](const ErrorCode& error, std::size_t) {
      self->bodyRead(error);
    });
  }

  void bodyRead(ErrorCode error) {
    if (error == http::error::need_buffer) error = {};
    const std::size_t got = chunk_.size() - parser_.get().body().size;
    if (got) {
      received_ += got;
      if (request_.maxBytes && received_ > request_.maxBytes)
        return complete(std::unexpected(Failure{fmt::format("received more than the expected {} bytes", request_.maxBytes)}));
      if (std::fwrite(chunk_.data(), 1, got, file_) != got)
        return complete(std::unexpected(Failure{fmt::format("could not write {}: {}", request_.file.string(), std::strerror(errno))}));
      if (progress_) progress_(received_, total_);
    }
    if (error && cancelled_) return complete(std::unexpected(Failure{"cancelled", true}));
    if (error == http::error::partial_message || error == http::error::end_of_stream ||
        error == asio::ssl::error::stream_truncated || error == asio::error::eof ||
        error == asio::error::connection_reset)
      return complete(std::unexpected(Failure{fmt::format("the connection closed after {} of {} bytes", received_, total_)}));
    if (error) return fail("reading the body", error);
    readBody();
  }

  template <class Describe>
  void fail(const char* step, const ErrorCode& error, Describe describe) {
    if (cancelled_) return complete(std::unexpected(Failure{"cancelled", true}));
    if (error == beast::error::timeout)
      return complete(std::unexpected(Failure{fmt::format("timed out {} from {}", *step ? step : "connecting", url_.host)}));
    complete(std::unexpected(Failure{describe()}));
  }
  void fail(const char* step, const ErrorCode& error) {
    fail(step, error, [&] { return fmt::format("failed {} from {}: {}", step, url_.host, error.message()); });
  }

  void closeFile() {
    if (file_) std::fclose(std::exchange(file_, nullptr));
  }

  void complete(std::expected<std::uint64_t, Failure> outcome) {
    ErrorCode ignored;
    beast::get_lowest_layer(stream_).socket().close(ignored);
    const bool flushed = file_ && std::fflush(file_) == 0;
    closeFile();
    if (outcome && !flushed) outcome = std::unexpected(Failure{"could not finish writing " + request_.file.string()});
    if (!outcome || cancelled_) {
      if (outcome) outcome = std::unexpected(Failure{"cancelled", true});
      std::error_code removeError;
      std::filesystem::remove(request_.file, removeError);
    }
    progress_ = nullptr;
    if (auto completion = std::exchange(completion_, nullptr)) completion(std::move(outcome));
  }

  const Url::Parts url_;
  const Request request_;
  Progress progress_;
  Completion completion_;
  std::atomic<bool> cancelled_{false};
  const std::shared_ptr<ssl::context> tlsContext_ = tls ? tlsClientContext() : nullptr;
  Stream stream_;
  Deadline deadline_{};
  std::shared_ptr<TcpDialer> dialer_;
  http::request<http::empty_body> head_;
  beast::flat_buffer buffer_;
  http::response_parser<http::buffer_body> parser_;
  std::array<char, 64 * 1024> chunk_{};
  std::FILE* file_ = nullptr;
  std::uint64_t received_ = 0;
  std::uint64_t total_ = 0;
};

// Reports a request that never reaches the network, on the network thread like every outcome.
class Refused final : public HttpDownload {
 public:
  void cancel() override {}
};

template <class Stream>
std::shared_ptr<HttpDownload> launch(Url::Parts url, HttpDownload::Request request, HttpDownload::Progress progress,
                                     HttpDownload::Completion completion) {
  auto transfer = std::make_shared<Transfer<Stream>>(std::move(url), std::move(request), std::move(progress),
                                                     std::move(completion));
  asio::post(ioContext(), [transfer] { transfer->run(); });
  return transfer;
}

}  // namespace

std::shared_ptr<HttpDownload> HttpDownload::start(Request request, Progress progress, Completion completion) {
  auto url = Url::parse(request.url);
  if (!url || (url->scheme != "http" && url->scheme != "https")) {
    asio::post(ioContext(), [completion = std::move(completion), why = "not an HTTP URL: " + request.url] {
      completion(std::unexpected(Failure{why}));
    });
    return std::make_shared<Refused>();
  }
  if (url->scheme == "https") return launch<TlsStream>(std::move(*url), std::move(request), std::move(progress), std::move(completion));
  return launch<beast::tcp_stream>(std::move(*url), std::move(request), std::move(progress), std::move(completion));
}

}  // namespace oskel
