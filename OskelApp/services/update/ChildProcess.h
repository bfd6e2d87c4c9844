#pragma once

#include <string>
#include <vector>

namespace oskel::update {

// Child processes are started from an argument list (looked up on PATH when
// the program has no '/'), never through a shell.
struct ProcessOutcome {
  int exitCode = -1;      // -1 when it could not start or ended by a signal
  std::string errorText;  // what it wrote to standard error (capped), or why it did not run
};

// Runs to completion; standard output is discarded. Blocks the calling thread.
ProcessOutcome runProcess(const std::vector<std::string>& arguments);

// Starts and leaves running; empty on success, else why not.
std::string startDetached(const std::vector<std::string>& arguments);

}  // namespace oskel::update
