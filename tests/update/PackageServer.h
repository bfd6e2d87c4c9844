#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace oskel::test {

// A local HTTPS server (127.0.0.1, certificate from a throw-away test CA) that
// answers fixed routes, for the feed and the package. One thread per connection.
class PackageServer {
 public:
  struct Route {
    int status = 200;
    std::string body;
    std::optional<std::uint64_t> announcedLength = std::nullopt;  // Content-Length; default the body's size
    bool stallHalfway = false;  // send half the body, then wait until the server stops
  };

  PackageServer();
  ~PackageServer();

  void setRoute(const std::string& path, Route route);
  std::string url(const std::string& path) const;
  // PEM file of the CA that signed the server's certificate (for OSKEL_CA_FILE).
  const std::string& caFile() const { return caFile_; }
  // Request targets in arrival order (path and query).
  std::vector<std::string> requests() const;

 private:
  void serve();
  void answer(int fd);

  struct Tls;
  std::unique_ptr<Tls> tls_;
  std::string caFile_;
  int listener_ = -1;
  std::uint16_t port_ = 0;
  mutable std::mutex mutex_;
  std::condition_variable stopping_;
  bool stopped_ = false;
  std::map<std::string, Route> routes_;
  std::vector<std::string> requests_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace oskel::test
