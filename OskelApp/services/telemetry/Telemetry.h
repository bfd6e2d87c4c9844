#pragma once

#include <chrono>
#include <expected>
#include <functional>
#include <memory>
#include <string>

#include <boost/json/object.hpp>

#include "SettingsStore.h"
#include "TelemetryContext.h"
#include "concurrency/Clock.h"
#include "service/HttpGet.h"

namespace oskel {

class SerialQueue;

// Anonymous usage events, sent as JSON batches to the maker's endpoint over
// the engine's HTTPS client. The installation is known only by a random id
// kept in the settings. Callers on any thread only enqueue; everything else
// happens on the serial queue "oskel.telemetry", and nothing but quit()
// waits for the network. Failed batches are not retried.
class Telemetry {
 public:
  static constexpr auto flushDelay = std::chrono::seconds(1);
  static constexpr auto requestTimeout = std::chrono::seconds(12);
  static constexpr auto quitBound = std::chrono::milliseconds(1500);
  static constexpr const char* installIdKey = "telemetryInstallId";

  struct Config {
    bool enabled = true;
    std::string endpoint;
    std::string installSourcePath;
    TelemetryContext context;
  };
  // "OSKEL_TELEMETRY"=0 switches it off; "OSKEL_TELEMETRY_URL", when a valid
  // http(s) URL, replaces the maker's endpoint.
  static Config configFromEnvironment();
  static std::string defaultEndpoint();

  using Completion = std::function<void(std::expected<HttpResponse, std::string>)>;
  // Posts one batch; the completion may run on any thread.
  using Post = std::function<void(const HttpRequest& request, std::string body, Completion completion)>;
  static Post httpsPost();

  Telemetry(Config config, std::shared_ptr<SettingsStore> settings, std::shared_ptr<Clock> clock = Clock::system(),
            Post post = httpsPost());
  ~Telemetry();
  Telemetry(const Telemetry&) = delete;
  Telemetry& operator=(const Telemetry&) = delete;

  // At launch: "Application Opened" with "first_open".
  void open();
  // From any thread. type: "track", "identify" or "screen"; the payload gets
  // the envelope's fields. A payload JSON cannot carry (a non-finite number,
  // text that is not UTF-8) is dropped with a debug line.
  void enqueue(std::string type, boost::json::object payload);
  void track(std::string event, boost::json::object properties = {});
  void screen(std::string name, boost::json::object properties = {});
  // At termination: "Application Quit", then the pending batch is sent at
  // once and its answer awaited for at most quitBound (on the clock). Not
  // from the telemetry queue.
  void quit();

 private:
  struct State;
  // On the queue: the process's first message brings the installation's own.
  void bootstrap();
  void push(std::string_view type, boost::json::object payload);
  // Sends what is pending as one batch; `answered` runs once it is answered
  // or has failed (on a network thread).
  void flush(std::function<void()> answered);

  const Config config_;
  std::unique_ptr<State> state_;
  Post post_;
  // Last: destroyed first, so no task runs on a half-destroyed object.
  std::unique_ptr<SerialQueue> queue_;
};

}  // namespace oskel
