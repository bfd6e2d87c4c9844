#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace oskel {

// A streaming HTTP(S) GET of a large body straight into a file, on the engine's
// network thread with the same TLS checks as httpGet (system store plus
// OSKEL_CA_FILE). Redirects are not followed.
class HttpDownload {
 public:
  struct Request {
    std::string url;
    std::filesystem::path file;  // created or truncated; removed again on any failure or cancel
    std::uint64_t maxBytes = 0;  // a larger body (announced or received) fails; 0: no limit
    std::chrono::duration<double> connectTimeout{15.0};  // resolving, connecting, TLS and the response head
  };
  struct Failure {
    std::string description;
    bool cancelled = false;
  };
  // received so far and the announced total (0 when the server announced none).
  using Progress = std::function<void(std::uint64_t received, std::uint64_t total)>;
  // Runs exactly once: the number of bytes written, or why not.
  using Completion = std::function<void(std::expected<std::uint64_t, Failure>)>;

  virtual ~HttpDownload() = default;
  // Stops the transfer; the completion then reports a failure marked cancelled
  // (unless it already ran). Callable from any thread.
  virtual void cancel() = 0;

  // Both callbacks run on the network thread. Returns at once.
  static std::shared_ptr<HttpDownload> start(Request request, Progress progress, Completion completion);
};

}  // namespace oskel
