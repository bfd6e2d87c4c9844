// The loopback installer on the private audio servers (scripts/audio-servers.sh),
// restarting them as a new login would.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>
#include <thread>

#include "DevicesCommand.h"
#include "LoopbackInstaller.h"
#include "audio/AudioDevices.h"
#include "audio/pulse/PulseAudioHost.h"
#include "audio/pulse/PulseLoopbackPersistence.h"
#include "support/ScopedEnv.h"

using namespace oskel;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

using Files = std::map<fs::path, std::string>;
using Reports = std::vector<std::pair<std::string, boost::json::object>>;

Files snapshot(const fs::path& root) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ostringstream text;
    text << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    files[entry.path()] = text.str();
  }
  return files;
}

// The names of the Oskel devices the server lists now; none while it is away.
std::multiset<std::string> oskelDevices() {
  auto host = PulseAudioHost::connect();
  if (!host) return {};
  std::multiset<std::string> names;
  for (const auto& device : AudioDevices::all(**host))
    if (device.isOskel()) names.insert(device.name);
  return names;
}

const std::multiset<std::string> both{"Oskel Microphone", "Oskel Speaker"};

// Restarts the server as a new login would and waits for `wanted`: a
// restarted server loads its modules on its own time.
std::multiset<std::string> afterRestart(const std::multiset<std::string>& wanted) {
  EXPECT_EQ(std::system("bash " OSKEL_TEST_DIR "/restart-audio-server.sh"), 0);
  auto names = oskelDevices();
  for (int i = 0; i < 100 && names != wanted; ++i) {
    std::this_thread::sleep_for(100ms);
    names = oskelDevices();
  }
  return names;
}

LoopbackInstaller::Outcome install(LoopbackInstaller& installer) {
  std::promise<LoopbackInstaller::Outcome> done;
  installer.install([&](LoopbackInstaller::Outcome outcome) { done.set_value(outcome); });
  return done.get_future().get();
}

class LoopbackInstallerTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* dir = std::getenv("OSKEL_AUDIO_DIR");
    if (!dir) GTEST_SKIP() << "needs a private audio server (scripts/audio-servers.sh)";
    // The configuration folder the server reads, with a file of the user's own.
    root = fs::path(dir) / "home/.config";
    fs::create_directories(root / "pipewire/pipewire-pulse.conf.d");
    std::ofstream(root / "pipewire/pipewire-pulse.conf.d/users-own.conf") << "# the user's own settings\n";
  }

  LoopbackInstaller::Options options() {
    return {{}, root, [this](std::string event, boost::json::object properties) {
              reports.emplace_back(std::move(event), std::move(properties));
            }, {}};
  }

  fs::path root;
  Reports reports;
};

}  // namespace

TEST_F(LoopbackInstallerTest, DevicesComeBackAfterARestartUntilUninstalled) {
  const auto before = snapshot(root);
  LoopbackInstaller installer(options());
  ASSERT_TRUE(install(installer).has_value());
  EXPECT_EQ(reports, (Reports{{"Driver Install Completed", {}}}));
  EXPECT_EQ(oskelDevices(), both);
  // Only files of ours were added.
  auto after = snapshot(root);
  for (const auto& ours : Pulse::LoopbackPersistence::files(root)) EXPECT_EQ(after.erase(ours), 1u) << ours;
  EXPECT_EQ(after, before);

  EXPECT_EQ(afterRestart(both), both);

  ASSERT_TRUE(installer.uninstall().has_value());
  EXPECT_EQ(snapshot(root), before);
  EXPECT_TRUE(oskelDevices().empty());
  EXPECT_TRUE(afterRestart({}).empty());

  // The command line does the same.
  std::ostringstream out, err;
  DevicesCommandOptions persist{.installLoopback = true, .persist = true, .configRoot = root};
  ASSERT_EQ(runDevicesCommand(persist, out, err), 0) << err.str();
  EXPECT_NE(out.str().find("Wrote " + Pulse::LoopbackPersistence::files(root)[0].string()), std::string::npos);
  EXPECT_EQ(afterRestart(both), both);
  DevicesCommandOptions remove{.removeLoopback = true, .configRoot = root};
  ASSERT_EQ(runDevicesCommand(remove, out, err), 0) << err.str();
  EXPECT_EQ(snapshot(root), before);
  EXPECT_TRUE(oskelDevices().empty());
}

TEST_F(LoopbackInstallerTest, FailuresSayWhyAndAreReported) {
  {
    test::ScopedEnv nowhere("PULSE_SERVER", "unix:/nonexistent/oskel/native");
    LoopbackInstaller away(options());
    const auto notRunning = install(away);
    ASSERT_FALSE(notRunning.has_value());
    EXPECT_TRUE(notRunning.error().description().starts_with("the audio server is not running: "));
  }

  // A file where the configuration folder should be.
  auto blocked = options();
  blocked.configRoot = root / "not-a-folder";
  std::ofstream(blocked.configRoot) << "x";
  LoopbackInstaller readOnly(blocked);
  const auto notWritable = install(readOnly);
  ASSERT_FALSE(notWritable.has_value());
  EXPECT_TRUE(notWritable.error().description().starts_with("the configuration folder is not writable: cannot write "))
      << notWritable.error().description();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(reports[1].first, "Driver Install Failed");
  EXPECT_EQ(reports[1].second.at("reason").as_string(), notWritable.error().description().substr(0, 200));
  EXPECT_EQ(reports[1].second.at("cancelled"), false);
  EXPECT_TRUE(readOnly.uninstall().has_value());
  fs::remove(blocked.configRoot);
}
