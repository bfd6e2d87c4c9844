#pragma once

// Ctrl-C (SIGINT) and SIGTERM end a command's run gracefully: the handler
// only raises a flag that the command's wait loop reads.
namespace oskel::StopSignal {

// Installs the handlers (once per process) and lowers the flag.
void install();
bool raised();
// How many times it was raised since install() (a second Ctrl-C hurries a stop).
int raisedCount();

}  // namespace oskel::StopSignal
