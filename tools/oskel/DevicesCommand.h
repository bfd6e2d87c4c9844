#pragma once

#include <iosfwd>

namespace oskel {

class AudioHost;
class LoopbackHost;

struct DevicesCommandOptions {
  bool installLoopback = false;  // --install-loopback
  bool removeLoopback = false;   // --remove-loopback
};

// `oskel devices`: lists the audio devices of the running audio server, after
// installing or removing the two loopback devices when asked. Returns the
// process exit status: 0 on success, 1 when the server refuses, 2 for
// conflicting options.
int runDevicesCommand(const DevicesCommandOptions& options, std::ostream& out, std::ostream& err);

// The same on a given host (tests use the simulated one).
int runDevicesCommand(const DevicesCommandOptions& options, AudioHost& host, LoopbackHost& loopback,
                      std::ostream& out, std::ostream& err);

}  // namespace oskel
