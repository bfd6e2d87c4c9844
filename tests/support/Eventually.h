#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace oskel::test {

// Polls a condition that real audio, a real server or the network makes
// true; fails after the deadline rather than hanging.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds deadline = std::chrono::seconds(15)) {
  const auto end = std::chrono::steady_clock::now() + deadline;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace oskel::test
