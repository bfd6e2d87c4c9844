#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "log/Log.h"

namespace oskel::test {

// Collects log lines (without the timestamp) while alive and restores the
// previous sink afterwards. Safe to use while other threads log.
class LogCapture {
 public:
  LogCapture();
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Lines as "LEVEL message" (tag, space, message, no newline).
  std::vector<std::string> lines() const;
  bool contains(const std::string& fragment) const;
  size_t count(const std::string& fragment) const;
  void clear();

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> lines_;
  Log::Sink previous_;
};

}  // namespace oskel::test
