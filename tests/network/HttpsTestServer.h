#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace oskel::test {

// A tiny HTTPS server on 127.0.0.1 that records every request and answers
// fixed routes, with a certificate from a throw-away test CA (trust it with
// OSKEL_CA_FILE). A path without a route gets 200 and "{}"; when told to, the
// server stops answering altogether.
class HttpsTestServer {
 public:
  struct Request {
    std::string method;
    std::string target;  // path and query
    std::string contentType;
    std::string authorization;
    std::string body;
  };
  struct Route {
    int status = 200;
    std::string body = "{}";
    std::optional<std::uint64_t> announcedLength = std::nullopt;  // Content-Length; default the body's size
    bool stallHalfway = false;  // sends half the body, then holds the connection open
  };

  HttpsTestServer();
  ~HttpsTestServer();
  HttpsTestServer(const HttpsTestServer&) = delete;
  HttpsTestServer& operator=(const HttpsTestServer&) = delete;

  std::string url(const std::string& path) const;
  std::string caFile() const;
  void setRoute(const std::string& path, Route route);
  void setAnswering(bool answering);

  std::vector<Request> requests() const;
  // Until at least `count` requests arrived, or `within` passed.
  bool waitForRequests(size_t count, std::chrono::milliseconds within = std::chrono::seconds(20)) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace oskel::test
