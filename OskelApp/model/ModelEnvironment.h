#pragma once

#include <expected>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <boost/json/object.hpp>

#include "MainQueue.h"
#include "Orchestrator.h"
#include "Preferences.h"
#include "audio/AudioDeviceInfo.h"
#include "audio/AudioHost.h"

namespace oskel {

class Telemetry;

// The audio devices as the model reads them.
struct DeviceSource {
  std::function<std::vector<AudioDeviceInfo>()> all;
  std::function<std::optional<AudioDeviceInfo>()> defaultInput;
  std::function<std::optional<AudioDeviceInfo>()> defaultOutput;
  // Calls `changed` on the main queue after every device change until the
  // returned handle is dropped.
  std::function<std::shared_ptr<void>(std::function<void()> changed)> observe;

  // The audio server's devices, notifications delivered through `mainQueue`.
  static DeviceSource of(std::shared_ptr<AudioHost> host, std::shared_ptr<MainQueue> mainQueue);
  // A fixed list (previews and tests); the first input and output device
  // with channels are the defaults.
  static DeviceSource fixed(std::vector<AudioDeviceInfo> devices);
};

// The secrets the model holds: the service API key and the relay token.
class SecretStore {
 public:
  virtual ~SecretStore() = default;
  virtual std::optional<std::string> apiKey() = 0;
  virtual std::optional<std::string> accessToken() = 0;
  // The description of the failure when the key could not be stored.
  virtual std::expected<void, std::string> setAPIKey(const std::string& key) = 0;
  // The relay rejected the token: it is not used again.
  virtual void forgetAccessToken() = 0;

  // The desktop's Secret Service (OSKEL_TOKEN overrides the stored token).
  static std::shared_ptr<SecretStore> keychain();
};

// Secrets in memory: previews and tests.
class MemorySecretStore final : public SecretStore {
 public:
  std::optional<std::string> apiKey() override { return key; }
  std::optional<std::string> accessToken() override { return token; }
  std::expected<void, std::string> setAPIKey(const std::string& value) override;
  void forgetAccessToken() override { token.reset(); }

  std::optional<std::string> key;
  std::optional<std::string> token;
  std::optional<std::string> failure;  // set: every write fails with this text
};

// Everything the model reaches outside itself. Empty callbacks do nothing
// (no telemetry, no installer, no folder to reveal).
struct ModelEnvironment {
  std::shared_ptr<MainQueue> mainQueue;
  std::shared_ptr<Preferences> preferences;
  std::shared_ptr<SecretStore> secrets;
  OrchestratorFactory orchestrators;
  DeviceSource devices;
  // Telemetry's track(event, properties).
  std::function<void(std::string event, boost::json::object properties)> track;
  // Installs the loopback devices; the completion runs on the main queue
  // with the failure's description on failure.
  std::function<void(std::function<void(std::expected<void, std::string>)>)> installDriver;
  std::filesystem::path recordingsFolder;
  std::function<void(const std::filesystem::path&)> revealFolder;
  // Whether the microphone may be used; the answer arrives on the main queue.
  // Empty: granted at once (no sandbox, no prompt on the Linux desktop).
  std::function<void(std::function<void(bool granted)>)> microphoneAccess;
  // The system's language code ("de"), for the default settings.
  std::string systemLanguage = "en";
  // Interface languages that ship ("en", "es", "de").
  std::vector<std::string> interfaceLanguages;
  // Rendering previews: the playground is never opened.
  bool preview = false;
};

// The application's own environment: the Qt event loop and settings file,
// the Secret Service, the session's audio server (reconnected when it went
// away), the engine's orchestrators, the loopback installer, telemetry
// (may be null) and the file browser. Needs the Qt application object.
ModelEnvironment applicationEnvironment(std::shared_ptr<Telemetry> telemetry);

}  // namespace oskel
