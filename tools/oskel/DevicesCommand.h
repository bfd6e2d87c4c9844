#pragma once

#include <filesystem>
#include <iosfwd>

namespace oskel {

class AudioHost;
class LoopbackHost;

struct DevicesCommandOptions {
  bool installLoopback = false;  // --install-loopback
  bool removeLoopback = false;   // --remove-loopback, which also removes the persisted files
  bool persist = false;          // --persist: with --install-loopback, bring them back at every login
  // Where the persisted files go. The command line leaves it empty and gets
  // $XDG_CONFIG_HOME, else ~/.config; on a given host, empty means no files.
  std::filesystem::path configRoot{};
};

// `oskel devices`: lists the audio devices of the running audio server, after
// installing or removing the two loopback devices when asked. Returns the
// process exit status: 0 on success, 1 when the server refuses or a file
// cannot be written, 2 for conflicting options.
int runDevicesCommand(const DevicesCommandOptions& options, std::ostream& out, std::ostream& err);

// The same on a given host (tests use the simulated one).
int runDevicesCommand(const DevicesCommandOptions& options, AudioHost& host, LoopbackHost& loopback,
                      std::ostream& out, std::ostream& err);

}  // namespace oskel
