#include "PackageServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <fmt/format.h>

#include "emulator/TestCertificates.h"

namespace oskel::test {

struct PackageServer::Tls {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  ~Tls() { SSL_CTX_free(context); }
};

PackageServer::PackageServer() : tls_(std::make_unique<Tls>()) {
  auto certificates = emulator::makeTestCertificates({"127.0.0.1"});
  if (!certificates) throw std::runtime_error(certificates.error());
  BIO* certBio = BIO_new_mem_buf(certificates->serverPem.data(), static_cast<int>(certificates->serverPem.size()));
  BIO* keyBio = BIO_new_mem_buf(certificates->serverKeyPem.data(), static_cast<int>(certificates->serverKeyPem.size()));
  X509* cert = PEM_read_bio_X509(certBio, nullptr, nullptr, nullptr);
  EVP_PKEY* key = PEM_read_bio_PrivateKey(keyBio, nullptr, nullptr, nullptr);
  const bool loaded = SSL_CTX_use_certificate(tls_->context, cert) == 1 && SSL_CTX_use_PrivateKey(tls_->context, key) == 1;
  X509_free(cert);
  EVP_PKEY_free(key);
  BIO_free(certBio);
  BIO_free(keyBio);
  if (!loaded) throw std::runtime_error("test server certificate not loaded");
  // A new name for every CA: the client caches its TLS settings per file name.
  static std::atomic<int> servers{0};
  caFile_ = fmt::format("{}/oskel-update-ca-{}-{}.pem", std::filesystem::temp_directory_path().string(), getpid(),
                        ++servers);
  std::ofstream(caFile_) << certificates->caPem;

  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || listen(listener_, 16) != 0 ||
      getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
    throw std::runtime_error("test server cannot listen");
  port_ = ntohs(address.sin_port);
  acceptor_ = std::thread([this] { serve(); });
}

PackageServer::~PackageServer() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
  }
  stopping_.notify_all();
  shutdown(listener_, SHUT_RDWR);
  acceptor_.join();
  for (auto& thread : threads_) thread.join();
  close(listener_);
  std::filesystem::remove(caFile_);
}

void PackageServer::setRoute(const std::string& path, Route route) {
  std::lock_guard lock(mutex_);
  routes_[path] = std::move(route);
}

std::string PackageServer::url(const std::string& path) const { return fmt::format("https://127.0.0.1:{}{}", port_, path); }

std::vector<std::string> PackageServer::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void PackageServer::serve() {
  for (;;) {
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return;
    std::lock_guard lock(mutex_);
    if (stopped_) {
      close(fd);
      return;
    }
    threads_.emplace_back([this, fd] { answer(fd); });
  }
}

void PackageServer::answer(int fd) {
  SSL* ssl = SSL_new(tls_->context);
  SSL_set_fd(ssl, fd);
  std::string head;
  char buffer[4096];
  if (SSL_accept(ssl) == 1) {
    while (head.find("\r\n\r\n") == std::string::npos) {
      const int got = SSL_read(ssl, buffer, sizeof buffer);
      if (got <= 0) break;
      head.append(buffer, static_cast<std::size_t>(got));
    }
  }
  const auto start = head.find(' ') + 1;
  const std::string target = head.substr(start, head.find(' ', start) - start);
  Route route{404, "not found", {}, false};
  {
    std::lock_guard lock(mutex_);
    requests_.push_back(target);
    if (auto found = routes_.find(target.substr(0, target.find('?'))); found != routes_.end()) route = found->second;
  }
  const std::string reply = fmt::format("HTTP/1.1 {} X\r\nContent-Length: {}\r\nConnection: close\r\n\r\n", route.status,
                                        route.announcedLength.value_or(route.body.size()));
  const std::size_t sent = route.stallHalfway ? route.body.size() / 2 : route.body.size();
  SSL_write(ssl, reply.data(), static_cast<int>(reply.size()));
  if (sent) SSL_write(ssl, route.body.data(), static_cast<int>(sent));
  if (route.stallHalfway) {
    std::unique_lock lock(mutex_);
    stopping_.wait(lock, [&] { return stopped_; });
  }
  SSL_shutdown(ssl);
  SSL_free(ssl);
  close(fd);
}

}  // namespace oskel::test
