#include "LoopbackInstaller.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fmt/format.h>

#include "audio/LoopbackDevices.h"
#include "audio/pulse/PulseAudioHost.h"
#include "audio/pulse/PulseLoopbackPersistence.h"
#include "concurrency/SerialQueue.h"
#include "log/Log.h"

extern char** environ;

namespace oskel {
namespace {

namespace Persistence = Pulse::LoopbackPersistence;

std::expected<std::shared_ptr<LoopbackHost>, AudioHostError> connectToSessionServer() {
  auto host = PulseAudioHost::connect();
  if (!host) return std::unexpected(host.error());
  return std::shared_ptr<LoopbackHost>(std::move(*host));
}

// Lets a running user service manager see the PulseAudio drop-in now rather
// than at the next login. Without one (no systemd, PipeWire only) nothing
// changes; the result does not matter.
void reloadUserServices() {
  const char* systemctl = "/usr/bin/systemctl";
  if (::access(systemctl, X_OK) != 0) return;
  char arg0[] = "systemctl", arg1[] = "--user", arg2[] = "--quiet", arg3[] = "daemon-reload";
  char* argv[] = {arg0, arg1, arg2, arg3, nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  if (posix_spawn(&pid, systemctl, &actions, nullptr, argv, environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
  }
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

LoopbackInstaller::LoopbackInstaller(Options options)
    : options_(std::move(options)), queue_(std::make_unique<SerialQueue>("oskel.installer")) {
  if (!options_.connect) options_.connect = connectToSessionServer;
  if (options_.configRoot.empty()) options_.configRoot = Persistence::defaultConfigRoot();
  if (!options_.deliver) options_.deliver = [](std::function<void()> task) { task(); };
}

LoopbackInstaller::~LoopbackInstaller() { queue_.reset(); }

void LoopbackInstaller::install(std::function<void(Outcome)> completion) {
  queue_->post([this, completion = std::move(completion)] {
    auto outcome = installNow();
    options_.deliver([report = options_.report, completion, outcome] {
      if (report) {
        if (outcome) {
          report("Driver Install Completed", {});
        } else {
          const auto reason = outcome.error().description();
          report("Driver Install Failed", {{"reason", reason.substr(0, 200)},
                                           {"cancelled", reason.find("installation cancelled") != std::string::npos}});
        }
      }
      if (completion) completion(outcome);
    });
  });
}

LoopbackInstaller::Outcome LoopbackInstaller::installNow() {
  auto host = options_.connect();
  if (!host) return std::unexpected(Failure{"the audio server is not running: " + host.error().description()});
  const auto devices = LoopbackDevices::install(**host);
  if (!devices) return std::unexpected(Failure{devices.error().description()});
  const auto written = Persistence::write(options_.configRoot);
  if (!written) return std::unexpected(Failure{"the configuration folder is not writable: " + written.error().description()});
  reloadUserServices();
  Log::info([&] {
    return fmt::format("loopback devices installed; they come back at every login ({} and {})",
                       (*written)[0].string(), (*written)[1].string());
  });
  return {};
}

LoopbackInstaller::Outcome LoopbackInstaller::uninstall() {
  // The files first: without them nothing comes back, whatever the server says.
  const auto removed = Persistence::remove(options_.configRoot);
  if (!removed) return std::unexpected(Failure{removed.error().description()});
  if (!removed->empty()) reloadUserServices();
  auto host = options_.connect();
  if (!host) return std::unexpected(Failure{"the audio server is not running: " + host.error().description()});
  if (const auto devices = LoopbackDevices::remove(**host); !devices)
    return std::unexpected(Failure{devices.error().description()});
  return {};
}

}  // namespace oskel
