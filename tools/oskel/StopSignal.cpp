#include "StopSignal.h"

#include <atomic>
#include <csignal>

namespace oskel::StopSignal {

namespace {

std::atomic<bool> flag{false};

extern "C" void onSignal(int) { flag.store(true, std::memory_order_relaxed); }

}  // namespace

void install() {
  flag.store(false, std::memory_order_relaxed);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool raised() { return flag.load(std::memory_order_relaxed); }

}  // namespace oskel::StopSignal
