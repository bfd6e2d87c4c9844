#include <mutex>

#include <QProcess>
#include <QString>

#include "L10n.h"
#include "LoopbackInstaller.h"
#include "ModelEnvironment.h"
#include "Telemetry.h"
#include "audio/AudioDeviceObserver.h"
#include "audio/AudioDevices.h"
#include "audio/pulse/PulseAudioHost.h"
#include "log/Log.h"

namespace oskel {

namespace {

// The session's audio server. A server that went away (restarted by the
// user or the desktop) is connected again on the next use, and the device
// observation moves to the new connection.
class AudioServer {
 public:
  explicit AudioServer(std::shared_ptr<MainQueue> mainQueue) : mainQueue_(std::move(mainQueue)) {}

  std::shared_ptr<AudioHost> current() {
    std::lock_guard guard(lock_);
    if (host_ && host_->connected()) return host_;
    auto connected = PulseAudioHost::connect();
    if (!connected) {
      if (!reported_) Log::warn([&] { return "audio: " + connected.error().description(); });
      reported_ = true;
      return nullptr;
    }
    reported_ = false;
    host_ = std::move(*connected);
    if (changed_) observer_ = observe(host_);
    return host_;
  }

  void setChanged(std::function<void()> changed) {
    std::lock_guard guard(lock_);
    changed_ = std::move(changed);
    observer_ = host_ && changed_ ? observe(host_) : nullptr;
  }

 private:
  std::shared_ptr<AudioDeviceObserver> observe(const std::shared_ptr<AudioHost>& host) {
    return std::make_shared<AudioDeviceObserver>(host, changed_, [queue = std::weak_ptr(mainQueue_)](auto task) {
      if (auto main = queue.lock()) main->post(std::move(task));
    });
  }

  std::shared_ptr<MainQueue> mainQueue_;
  std::mutex lock_;
  std::shared_ptr<PulseAudioHost> host_;
  std::function<void()> changed_;
  std::shared_ptr<AudioDeviceObserver> observer_;
  bool reported_ = false;
};

}  // namespace

ModelEnvironment applicationEnvironment(std::shared_ptr<Telemetry> telemetry) {
  ModelEnvironment environment;
  environment.mainQueue = MainQueue::qt();
  environment.preferences = Preferences::qt();
  environment.secrets = SecretStore::keychain();
  auto server = std::make_shared<AudioServer>(environment.mainQueue);
  server->current();

  environment.devices.all = [server] {
    auto host = server->current();
    return host ? AudioDevices::all(*host) : std::vector<AudioDeviceInfo>{};
  };
  environment.devices.defaultInput = [server]() -> std::optional<AudioDeviceInfo> {
    auto host = server->current();
    return host ? AudioDevices::defaultInput(*host) : std::nullopt;
  };
  environment.devices.defaultOutput = [server]() -> std::optional<AudioDeviceInfo> {
    auto host = server->current();
    return host ? AudioDevices::defaultOutput(*host) : std::nullopt;
  };
  environment.devices.observe = [server](std::function<void()> changed) -> std::shared_ptr<void> {
    server->setChanged(std::move(changed));
    // Observation ends with the handle.
    return std::shared_ptr<void>(nullptr, [server](void*) { server->setChanged({}); });
  };

  environment.orchestrators = [server](OrchestratorKind kind, TranslatorConfig config, CallDirection turn,
                                       OrchestratorEnvironment::Post eventQueue)
      -> std::expected<std::shared_ptr<Orchestrator>, OrchestratorError> {
    auto host = server->current();
    if (!host) return std::unexpected(OrchestratorError::of(std::string("the audio server is not reachable")));
    OrchestratorEnvironment base;
    base.host = std::move(host);
    return engineOrchestrators(std::move(base))(kind, std::move(config), turn, std::move(eventQueue));
  };

  if (telemetry)
    environment.track = [telemetry](std::string event, boost::json::object properties) {
      telemetry->track(std::move(event), std::move(properties));
    };
  auto installer = std::make_shared<LoopbackInstaller>(LoopbackInstaller::Options{
      .connect = {},
      .configRoot = {},
      .report = environment.track,
      .deliver = [queue = std::weak_ptr(environment.mainQueue)](std::function<void()> task) {
        if (auto main = queue.lock()) main->post(std::move(task));
      }});
  environment.installDriver = [installer](std::function<void(std::expected<void, std::string>)> completion) {
    installer->install([completion = std::move(completion)](LoopbackInstaller::Outcome outcome) {
      if (outcome)
        completion({});
      else
        completion(std::unexpected(outcome.error().description()));
    });
  };
  environment.revealFolder = [](const std::filesystem::path& folder) {
    QProcess::startDetached(QStringLiteral("xdg-open"), {QString::fromStdString(folder.string())});
  };
  environment.systemLanguage = systemLanguageCode({});
  return environment;
}

}  // namespace oskel
