#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include <boost/json/object.hpp>

#include "audio/AudioHostError.h"
#include "audio/LoopbackHost.h"

namespace oskel {

class SerialQueue;

// Provisions "Oskel Microphone" and "Oskel Speaker" on the user's audio
// server (PulseAudio or pipewire-pulse) now, and leaves files of our own that
// bring them back at every login and server start, without administrator
// rights and without touching the user's own configuration files.
class LoopbackInstaller {
 public:
  // Why installing failed, as one line the application shows unchanged.
  struct Failure {
    std::string message;
    std::string description() const { return message; }
  };
  using Outcome = std::expected<void, Failure>;
  using Connect = std::function<std::expected<std::shared_ptr<LoopbackHost>, AudioHostError>()>;
  // Telemetry's track(event, properties).
  using Report = std::function<void(std::string event, boost::json::object properties)>;
  // Where a completion runs (the application's main queue).
  using Deliver = std::function<void(std::function<void()>)>;

  struct Options {
    // Default: the client library's server (PULSE_SERVER, then the session's).
    Connect connect;
    // Default: $XDG_CONFIG_HOME, else ~/.config.
    std::filesystem::path configRoot;
    Report report;
    // Default: the completion runs on the installer's own thread.
    Deliver deliver;
  };

  explicit LoopbackInstaller(Options options);
  ~LoopbackInstaller();
  LoopbackInstaller(const LoopbackInstaller&) = delete;
  LoopbackInstaller& operator=(const LoopbackInstaller&) = delete;

  // Provisions and persists in the background; reports "Driver Install
  // Completed" or "Driver Install Failed" and then completes.
  void install(std::function<void(Outcome)> completion);
  // Removes our files and the two devices, on the caller's thread.
  Outcome uninstall();

 private:
  Outcome installNow();

  Options options_;
  std::unique_ptr<SerialQueue> queue_;
};

}  // namespace oskel
