#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace oskel::test {

// A tiny HTTPS endpoint on 127.0.0.1 that records every request, with a
// certificate from a throw-away test CA (trust it with OSKEL_CA_FILE). It
// answers 200, or, when told to, never answers at all.
class HttpsCollector {
 public:
  struct Request {
    std::string method;
    std::string target;
    std::string contentType;
    std::string authorization;
    std::string body;
  };

  HttpsCollector();
  ~HttpsCollector();
  HttpsCollector(const HttpsCollector&) = delete;
  HttpsCollector& operator=(const HttpsCollector&) = delete;

  std::string url(const std::string& path) const;
  std::string caFile() const;
  void setAnswering(bool answering);

  std::vector<Request> requests() const;
  // Until at least `count` requests arrived, or `within` passed.
  bool waitForRequests(size_t count, std::chrono::milliseconds within = std::chrono::seconds(20)) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace oskel::test
