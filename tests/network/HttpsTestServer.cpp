#include "HttpsTestServer.h"

#include <condition_variable>
#include <cstdio>
#include <fstream>
#include <map>
#include <mutex>
#include <stdexcept>
#include <thread>

#include <unistd.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>
#include <boost/asio/ssl.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/http.hpp>
#include <fmt/format.h>

#include "emulator/TestCertificates.h"

namespace oskel::test {
namespace {
namespace asio = boost::asio;
namespace ssl = asio::ssl;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;
}  // namespace

// Handlers hold the server plainly: they never run once its thread stopped.
struct HttpsTestServer::Impl {
  using Stream = ssl::stream<tcp::socket>;

  asio::io_context io;
  ssl::context tls{ssl::context::tls_server};
  tcp::acceptor acceptor{io};
  std::string caPath;
  std::thread thread;

  mutable std::mutex mutex;
  mutable std::condition_variable changed;
  std::vector<Request> requests;
  std::map<std::string, Route> routes;
  bool answering = true;

  struct Connection {
    Stream stream;
    boost::beast::flat_buffer buffer;
    http::request<http::string_body> request;
    std::string reply;
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
                       if (const auto route = self->record(connection->request)) {
                         self->answer(connection, *route);
                       } else {
                         self->held.push_back(connection);  // never answered
                       }
                     });
  }

  // The route to answer with; none while not answering.
  std::optional<Route> record(const http::request<http::string_body>& request) {
    std::lock_guard guard(mutex);
    const std::string target(request.target());
    requests.push_back({std::string(request.method_string()), target, std::string(request[http::field::content_type]),
                        std::string(request[http::field::authorization]), request.body()});
    changed.notify_all();
    if (!answering) return std::nullopt;
    const auto found = routes.find(target.substr(0, target.find('?')));
    return found != routes.end() ? found->second : Route{};
  }

  void answer(const std::shared_ptr<Connection>& connection, const Route& route) {
    const std::size_t sent = route.stallHalfway ? route.body.size() / 2 : route.body.size();
    connection->reply = fmt::format("HTTP/1.1 {} X\r\nContent-Type: application/json\r\nContent-Length: {}\r\n"
                                    "Connection: close\r\n\r\n{}",
                                    route.status, route.announcedLength.value_or(route.body.size()),
                                    std::string_view(route.body).substr(0, sent));
    asio::async_write(connection->stream, asio::buffer(connection->reply),
                      [self = this, connection, stall = route.stallHalfway](auto error, std::size_t) {
                        if (stall) {
                          self->held.push_back(connection);
                        } else if (!error) {
                          connection->stream.async_shutdown([connection](auto) {});
                        }
                      });
  }

  std::vector<std::shared_ptr<Connection>> held;  // open until the server stops
};

HttpsTestServer::HttpsTestServer() : impl_(std::make_unique<Impl>()) {
  auto certificates = emulator::makeTestCertificates({"127.0.0.1"});
  if (!certificates) throw std::runtime_error(certificates.error());
  impl_->tls.use_certificate_chain(asio::buffer(certificates->serverPem));
  impl_->tls.use_private_key(asio::buffer(certificates->serverKeyPem), ssl::context::pem);
  // A new name for every CA: the client caches its TLS settings per file name.
  char path[] = "/tmp/oskel-test-ca.XXXXXX";
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

HttpsTestServer::~HttpsTestServer() {
  impl_->io.stop();
  impl_->thread.join();
  std::remove(impl_->caPath.c_str());
}

std::string HttpsTestServer::url(const std::string& path) const {
  return "https://127.0.0.1:" + std::to_string(impl_->acceptor.local_endpoint().port()) + path;
}

std::string HttpsTestServer::caFile() const { return impl_->caPath; }

void HttpsTestServer::setRoute(const std::string& path, Route route) {
  std::lock_guard guard(impl_->mutex);
  impl_->routes[path] = std::move(route);
}

void HttpsTestServer::setAnswering(bool answering) {
  std::lock_guard guard(impl_->mutex);
  impl_->answering = answering;
}

std::vector<HttpsTestServer::Request> HttpsTestServer::requests() const {
  std::lock_guard guard(impl_->mutex);
  return impl_->requests;
}

bool HttpsTestServer::waitForRequests(size_t count, std::chrono::milliseconds within) const {
  std::unique_lock lock(impl_->mutex);
  return impl_->changed.wait_for(lock, within, [&] { return impl_->requests.size() >= count; });
}

}  // namespace oskel::test
