#pragma once

#include <sys/types.h>

#include <chrono>

namespace oskel::app {

// After an update the new program is started while the old one still runs
// ("--wait-for-pid"): it waits for that process to end before it opens its
// window, so the two never hold the single-instance socket at once. Gives up
// after `bound` so a pid reused by another program cannot keep it waiting.
// True when the process is gone.
bool waitForProcessExit(pid_t pid, std::chrono::milliseconds bound);

}  // namespace oskel::app
