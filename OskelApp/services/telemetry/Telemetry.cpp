#include "Telemetry.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <future>

#include <boost/json/array.hpp>
#include <boost/json/serialize.hpp>
#include <fmt/format.h>

#include "InstallSource.h"
#include "TelemetryMessage.h"
#include "concurrency/SerialQueue.h"
#include "log/Log.h"
#include "service/Base64.h"
#include "service/Url.h"

namespace oskel {
namespace {

// The deployment's write key, sent as a Basic credential.
constexpr std::string_view writeKey = "oskel-desktop-linux:";

std::string authorization() {
  const auto* bytes = reinterpret_cast<const uint8_t*>(writeKey.data());
  return "Basic " + Base64::encode({bytes, writeKey.size()});
}

// Lets one waiter go exactly once, whoever comes first.
struct Release {
  std::promise<void> promise;
  std::atomic<bool> released{false};
  void operator()() {
    if (!released.exchange(true)) promise.set_value();
  }
};

}  // namespace

struct Telemetry::State {
  std::shared_ptr<SettingsStore> settings;
  boost::json::object context;
  bool bootstrapped = false;
  bool newInstallation = false;
  std::string installId;
  Clock::TimePoint start{};
  boost::json::array pending;
  Timer flushTimer;
  Timer quitTimer;
};

Telemetry::Config Telemetry::configFromEnvironment() {
  Config config;
  const char* off = std::getenv("OSKEL_TELEMETRY");
  config.enabled = !(off && std::string_view(off) == "0");
  config.endpoint = defaultEndpoint();
  if (const char* url = std::getenv("OSKEL_TELEMETRY_URL")) {
    const auto parts = Url::parse(url);
    if (parts && (parts->scheme == "https" || parts->scheme == "http")) config.endpoint = url;
  }
  config.installSourcePath = InstallSource::defaultPath;
  config.context = TelemetryContext::current(OSKEL_APP_VERSION, OSKEL_APP_BUILD);
  return config;
}

std::string Telemetry::defaultEndpoint() { return "https://telemetry.oskel.app/v1/batch"; }

Telemetry::Post Telemetry::httpsPost() {
  return [](const HttpRequest& request, std::string body, Completion completion) {
    httpSend(request, "POST", std::move(body), std::move(completion));
  };
}

Telemetry::Telemetry(Config config, std::shared_ptr<SettingsStore> settings, std::shared_ptr<Clock> clock, Post post)
    : config_(std::move(config)),
      state_(std::make_unique<State>()),
      post_(std::move(post)),
      queue_(std::make_unique<SerialQueue>("oskel.telemetry", std::move(clock))) {
  state_->settings = std::move(settings);
  state_->context = config_.context.json();
}

Telemetry::~Telemetry() { queue_.reset(); }

void Telemetry::open() {
  if (!config_.enabled) return;
  queue_->post([this] {
    bootstrap();
    push("track", {{"event", "Application Opened"}, {"properties", {{"first_open", state_->newInstallation}}}});
  });
}

void Telemetry::enqueue(std::string type, boost::json::object payload) {
  if (!config_.enabled) return;
  queue_->post([this, type = std::move(type), payload = std::move(payload)]() mutable {
    bootstrap();
    push(type, std::move(payload));
  });
}

void Telemetry::track(std::string event, boost::json::object properties) {
  enqueue("track", {{"event", std::move(event)}, {"properties", std::move(properties)}});
}

void Telemetry::screen(std::string name, boost::json::object properties) {
  enqueue("screen", {{"name", std::move(name)}, {"properties", std::move(properties)}});
}

void Telemetry::quit() {
  if (!config_.enabled) return;
  auto release = std::make_shared<Release>();
  auto released = release->promise.get_future();
  queue_->post([this, release] {
    bootstrap();
    const double seconds = secondsBetween(state_->start, queue_->clock().now());
    push("track", {{"event", "Application Quit"},
                   {"properties", {{"seconds_open", std::round(seconds * 10.0) / 10.0}}}});
    state_->quitTimer = queue_->schedule(quitBound, [release] { (*release)(); });
    flush([release] { (*release)(); });
  });
  released.wait();
}

void Telemetry::bootstrap() {
  auto& state = *state_;
  if (state.bootstrapped) return;
  state.bootstrapped = true;
  state.start = queue_->clock().now();
  auto stored = state.settings->value(installIdKey);
  if (stored && TelemetryMessage::isUUID(*stored)) {
    state.installId = *stored;
  } else {
    state.installId = TelemetryMessage::newUUID();
    state.settings->setValue(installIdKey, state.installId);
    state.newInstallation = true;
  }
  const auto downloadId = Attribution::downloadId(*state.settings, config_.installSourcePath);
  boost::json::object traits;
  if (downloadId) traits["download_id"] = *downloadId;
  if (state.newInstallation) {
    boost::json::object properties{{"app_version", config_.context.appVersion}};
    if (downloadId) properties["download_id"] = *downloadId;
    push("track", {{"event", "Application Installed"}, {"properties", std::move(properties)}});
  }
  // Every run repeats the attribution when there is one.
  if (state.newInstallation || downloadId) push("identify", {{"traits", std::move(traits)}});
}

void Telemetry::push(std::string_view type, boost::json::object payload) {
  auto& state = *state_;
  auto message = TelemetryMessage::wrap(type, std::move(payload), state.installId, queue_->clock().wallNow(),
                                        state.context);
  if (!message) {
    Log::debug([&] { return fmt::format("telemetry: dropped a {} message with non-JSON values", type); });
    return;
  }
  state.pending.emplace_back(std::move(*message));
  if (!state.flushTimer) state.flushTimer = queue_->schedule(flushDelay, [this] { flush({}); });
}

void Telemetry::flush(std::function<void()> answered) {
  auto& state = *state_;
  state.flushTimer.cancel();
  if (state.pending.empty()) {
    if (answered) answered();
    return;
  }
  const auto count = state.pending.size();
  boost::json::object body{{"batch", std::exchange(state.pending, {})},
                           {"sentAt", TelemetryMessage::timestamp(queue_->clock().wallNow())}};
  HttpRequest request;
  request.url = config_.endpoint;
  request.headers = {{"Content-Type", "application/json"}, {"Authorization", authorization()}};
  request.timeout = requestTimeout;
  post_(request, boost::json::serialize(body), [count, answered = std::move(answered)](auto outcome) {
    if (!outcome) {
      Log::debug([&] { return fmt::format("telemetry: a batch of {} was not sent: {}", count, outcome.error()); });
    } else if (outcome->status >= 400) {
      Log::debug([&] { return fmt::format("telemetry: a batch of {} was refused: HTTP {}", count, outcome->status); });
    }
    if (answered) answered();
  });
}

}  // namespace oskel
