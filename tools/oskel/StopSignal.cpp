#include "StopSignal.h"

#include <atomic>
#include <csignal>

namespace oskel::StopSignal {

namespace {

std::atomic<int> count{0};

extern "C" void onSignal(int) { count.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

void install() {
  count.store(0, std::memory_order_relaxed);
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool raised() { return count.load(std::memory_order_relaxed) > 0; }
int raisedCount() { return count.load(std::memory_order_relaxed); }

}  // namespace oskel::StopSignal
