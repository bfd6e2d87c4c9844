#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ChildProcess.h"
#include "UpdaterSettings.h"
#include "UpdaterState.h"
#include "concurrency/Clock.h"
#include "concurrency/SerialQueue.h"
#include "service/HttpDownload.h"
#include "service/HttpGet.h"

namespace oskel {

// Keeps the application current: reads the JSON release feed, downloads the
// newer package into the cache folder, checks its SHA-256 digest, installs it
// with pkexec and apt-get, and restarts the application. Never installs while
// a call runs.
//
// Every state change happens on the main queue; the public commands may be
// called from any thread and run there. The feed request and the download run
// on the engine's network thread, the installer on a background queue.
class Updater : public std::enable_shared_from_this<Updater> {
 public:
  using Release = update::Release;
  using State = update::State;
  using Settings = update::UpdaterSettings;

  // The outside world, replaceable in tests; the defaults are the real ones.
  struct Seams {
    std::function<void(const HttpRequest&, std::function<void(std::expected<HttpResponse, std::string>)>)> get = httpGet;
    std::function<std::shared_ptr<HttpDownload>(HttpDownload::Request, HttpDownload::Progress, HttpDownload::Completion)>
        download = HttpDownload::start;
    // Runs the installer to completion (on the background queue).
    std::function<update::ProcessOutcome(const std::vector<std::string>&)> runInstaller = update::runProcess;
    // Starts the new process; empty on success, else why not.
    std::function<std::string(const std::vector<std::string>&)> relaunch = update::startDetached;
    // Ends the application (on the main queue).
    std::function<void()> quit;
  };

  // What the application is told; each may be empty.
  struct Callbacks {
    std::function<bool()> isCallRunning;
    std::function<void()> onProgressUI;  // show the update window
    std::function<void(const std::string& title, const std::string& text)> onAlert;
    std::function<void(const State&)> onStateChanged;
  };

  static std::shared_ptr<Updater> create(std::shared_ptr<SerialQueue> mainQueue, Settings settings, Seams seams);
  ~Updater();

  void setCallbacks(Callbacks callbacks);

  State state() const;
  std::optional<Clock::WallTime> lastChecked() const;
  // The release carried by the state, if any.
  std::optional<Release> available() const;
  const Settings& settings() const { return settings_; }

  // Checks at once, then every 6 hours; replaces earlier automatic checks.
  void startAutomaticChecks();
  void check(bool userInitiated);
  // Downloads, verifies and installs the available release.
  void beginUpdate();
  // Stops a running download; back to the release, or idle without one.
  void cancel();

  Updater(std::shared_ptr<SerialQueue> mainQueue, Settings settings, Seams seams);

 private:
  void runCheck(bool userInitiated);
  void checked(unsigned generation, bool userInitiated, std::expected<HttpResponse, std::string> outcome);
  void checkFailed(bool userInitiated, const std::string& why);
  void runUpdate();
  void progressed(unsigned generation, std::uint64_t received, std::uint64_t total);
  void stalled(unsigned generation);
  void downloaded(unsigned generation, const Release& release, std::expected<std::uint64_t, HttpDownload::Failure> result);
  void verified(const Release& release, const std::filesystem::path& package, std::expected<std::string, std::string> digest);
  void install(const Release& release, const std::filesystem::path& package);
  void installed(const Release& release, const update::ProcessOutcome& outcome);
  void setState(State state);
  void fail(const Release& release, std::string message);
  Callbacks callbacks() const;
  std::filesystem::path packagePath(const Release& release) const;
  void post(void (Updater::*command)());

  const std::shared_ptr<SerialQueue> mainQueue_;
  const Settings settings_;
  const Seams seams_;
  std::unique_ptr<SerialQueue> installQueue_;

  mutable std::mutex mutex_;  // guards the three below, read from any thread
  State state_;
  std::optional<Clock::WallTime> lastChecked_;
  Callbacks callbacks_;

  // Main queue only.
  Timer automaticChecks_;
  Timer stallTimer_;
  unsigned checkGeneration_ = 0;
  unsigned downloadGeneration_ = 0;
  std::shared_ptr<HttpDownload> downloadTask_;
  bool stallCancelled_ = false;
};

}  // namespace oskel
