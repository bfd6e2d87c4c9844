#include "HttpsCollector.h"

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>

#include "emulator/TestCertificates.h"

namespace oskel::test {
namespace {
namespace asio = boost::asio;
namespace ssl = asio::ssl;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
}  // namespace

// Handlers hold the collector plainly: they never run once its thread stopped.
struct HttpsCollector::Impl {
  using Stream = ssl::stream<tcp::socket>;

  asio::io_context io;
  ssl::context tls{ssl::context::tls_server};
  tcp::acceptor acceptor{io};
  std::string caPath;
  std::thread thread;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<Request> requests;
  bool answering = true;

  struct Connection {
    Stream stream;
    boost::beast::flat_buffer buffer;
    http::request<http::string_body> request;
    http::response<http::string_body> response;
  };

  void accept() {
    acceptor.async_accept([self = this](boost::system::error_code error, tcp::socket socket) {
      if (error) return;
      auto connection = std::make_shared<Connection>(Connection{Stream(std::move(socket), self->tls), {}, {}, {}});
      connection->stream.async_handshake(ssl::stream_base::server, [self, connection](auto handshakeError) {
        if (!handshakeError) self->read(connection);
      });
      self->accept();
    });
  }

  void read(const std::shared_ptr<Connection>& connection) {
    http::async_read(connection->stream, connection->buffer, connection->request,
                     [self = this, connection](auto error, std::size_t) {
                       if (error) return;
                       if (self->record(connection->request)) {
                         self->answer(connection);
                       } else {
                         self->silent.push_back(connection);  // held open, never answered
                       }
                     });
  }

  bool record(const http::request<http::string_body>& request) {
    std::lock_guard guard(mutex);
    requests.push_back({std::string(request.method_string()), std::string(request.target()),
                        std::string(request[http::field::content_type]),
                        std::string(request[http::field::authorization]), request.body()});
    changed.notify_all();
    return answering;
  }

  void answer(const std::shared_ptr<Connection>& connection) {
    auto& response = connection->response;
    response.result(http::status::ok);
    response.version(11);
    response.set(http::field::content_type, "application/json");
    response.set(http::field::connection, "close");
    response.body() = "{}";
    response.prepare_payload();
    http::async_write(connection->stream, response, [connection](auto, std::size_t) {});
  }

  std::vector<std::shared_ptr<Connection>> silent;
};

HttpsCollector::HttpsCollector() : impl_(std::make_unique<Impl>()) {
  auto certificates = emulator::makeTestCertificates({"127.0.0.1"});
  if (!certificates) throw std::runtime_error(certificates.error());
  impl_->tls.use_certificate_chain(asio::buffer(certificates->serverPem));
  impl_->tls.use_private_key(asio::buffer(certificates->serverKeyPem), ssl::context::pem);
  char path[] = "/tmp/oskel-collector-ca.XXXXXX";
  const int fd = ::mkstemp(path);
  if (fd < 0) throw std::runtime_error("cannot make a CA file");
  ::close(fd);
  impl_->caPath = path;
  std::ofstream(impl_->caPath) << certificates->caPem;
  const tcp::endpoint local(asio::ip::make_address("127.0.0.1"), 0);
  impl_->acceptor.open(local.protocol());
  impl_->acceptor.bind(local);
  impl_->acceptor.listen();
  impl_->accept();
  impl_->thread = std::thread([impl = impl_.get()] { impl->io.run(); });
}

HttpsCollector::~HttpsCollector() {
  impl_->io.stop();
  impl_->thread.join();
  std::remove(impl_->caPath.c_str());
}

std::string HttpsCollector::url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(impl_->acceptor.local_endpoint().port()) + path;
}

std::string HttpsCollector::caFile() const { return impl_->caPath; }

void HttpsCollector::setAnswering(bool answering) {
  std::lock_guard guard(impl_->mutex);
  impl_->answering = answering;
}

std::vector<HttpsCollector::Request> HttpsCollector::requests() const {
  std::lock_guard guard(impl_->mutex);
  return impl_->requests;
}

bool HttpsCollector::waitForRequests(size_t count, std::chrono::milliseconds within) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, within, [&] { return impl_->requests.size() >= count; });
}

}  // namespace oskel::test
