#include "ProcessWait.h"

#include <signal.h>

#include <cerrno>
#include <thread>

namespace oskel::app {

bool waitForProcessExit(pid_t pid, std::chrono::milliseconds bound) {
  if (pid <= 0) return true;
  const auto deadline = std::chrono::steady_clock::now() + bound;
  // Another user's process answers EPERM: it exists.
  while (::kill(pid, 0) == 0 || errno == EPERM) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

}  // namespace oskel::app
