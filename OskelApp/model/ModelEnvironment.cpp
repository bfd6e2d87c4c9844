#include "ModelEnvironment.h"

#include "Keychain.h"
#include "audio/AudioDeviceObserver.h"
#include "audio/AudioDevices.h"
#include "log/Log.h"

namespace oskel {

DeviceSource DeviceSource::of(std::shared_ptr<AudioHost> host, std::shared_ptr<MainQueue> mainQueue) {
  DeviceSource source;
  source.all = [host] { return AudioDevices::all(*host); };
  source.defaultInput = [host] { return AudioDevices::defaultInput(*host); };
  source.defaultOutput = [host] { return AudioDevices::defaultOutput(*host); };
  source.observe = [host, queue = std::weak_ptr(mainQueue)](std::function<void()> changed) -> std::shared_ptr<void> {
    return std::make_shared<AudioDeviceObserver>(host, std::move(changed), [queue](std::function<void()> task) {
      if (auto main = queue.lock()) main->post(std::move(task));
    });
  };
  return source;
}

DeviceSource DeviceSource::fixed(std::vector<AudioDeviceInfo> devices) {
  const auto first = [devices](bool input) -> std::optional<AudioDeviceInfo> {
    for (const auto& device : devices)
      if ((input ? device.inputChannels : device.outputChannels) > 0 && !device.isOskel()) return device;
    return std::nullopt;
  };
  return {.all = [devices] { return devices; },
          .defaultInput = [first] { return first(true); },
          .defaultOutput = [first] { return first(false); },
          .observe = [](std::function<void()>) -> std::shared_ptr<void> { return nullptr; }};
}

std::expected<void, std::string> MemorySecretStore::setAPIKey(const std::string& value) {
  if (failure) return std::unexpected(*failure);
  key = value;
  return {};
}

namespace {

class KeychainSecretStore final : public SecretStore {
 public:
  KeychainSecretStore() : loaded_(Keychain::load()) {}

  std::optional<std::string> apiKey() override { return loaded_.apiKey; }
  std::optional<std::string> accessToken() override { return loaded_.accessToken; }

  std::expected<void, std::string> setAPIKey(const std::string& key) override {
    auto stored = Keychain::set(key, Keychain::openAIKeyAccount);
    if (!stored) return std::unexpected(stored.error().description());
    loaded_.apiKey = key;
    return {};
  }

  void forgetAccessToken() override {
    loaded_.accessToken.reset();
    // A token from OSKEL_TOKEN was never stored; a stored one would only be
    // rejected again at the next launch.
    if (loaded_.tokenFromEnvironment) return;
    if (auto removed = Keychain::set(std::nullopt, Keychain::oskelTokenAccount()); !removed)
      Log::warn([&] { return "keychain: could not remove the rejected access token: " + removed.error().description(); });
  }

 private:
  Keychain::Secrets loaded_;
};

}  // namespace

std::shared_ptr<SecretStore> SecretStore::keychain() { return std::make_shared<KeychainSecretStore>(); }

}  // namespace oskel
