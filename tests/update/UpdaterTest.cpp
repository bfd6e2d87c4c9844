// The updater against a local HTTPS feed-and-package server, in virtual time.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

#include <fmt/format.h>

#include "FileDigest.h"
#include "PackageInstaller.h"
#include "Updater.h"
#include "concurrency/ManualClock.h"
#include "network/HttpsTestServer.h"
#include "support/Eventually.h"
#include "support/ScopedEnv.h"

using namespace oskel;
using namespace oskel::update;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Server = test::HttpsTestServer;

namespace {

class UpdaterTest : public ::testing::Test {
 protected:
  UpdaterTest() {
    std::mt19937 random(7);
    for (auto& c : package) c = static_cast<char>(random());
    fs::create_directories(root);
    std::ofstream(root / "scratch", std::ios::binary) << package;
    digest = sha256OfFile(root / "scratch").value();
    fs::remove(root / "scratch");
    server.setRoute("/pkg.deb", {200, package});
  }
  ~UpdaterTest() override {
    updater.reset();
    fs::remove_all(root);
  }

  void publish(std::int64_t build, const std::string& version, std::optional<std::string> sha = {},
               std::optional<std::size_t> size = {}) {
    server.setRoute("/releases/latest.json",
                    {200, fmt::format(R"({{"version":"{}","build":{},"url":"{}","sha256":"{}","size":{}}})", version,
                                      build, server.url("/pkg.deb"), sha.value_or(digest), size.value_or(package.size()))});
  }

  // The recording seams stand in for pkexec, the relaunch and quitting unless real is set.
  void start(bool dryRun = false, bool realInstaller = false) {
    Updater::Settings settings{server.url("/releases/latest.json"), dryRun, cache, "1.0.0", 10, "/usr/bin/oskel-app"};
    Updater::Seams seams;
    if (!realInstaller)
      seams.runInstaller = [this](const std::vector<std::string>& arguments) {
        record([&] { installs.push_back(arguments); });
        return ProcessOutcome{0, ""};
      };
    seams.relaunch = [this](const std::vector<std::string>& arguments) {
      record([&] { relaunches.push_back(arguments); });
      return std::string();
    };
    seams.quit = [this] { record([&] { ++quits; }); };
    updater = Updater::create(queue, settings, seams);
    updater->setCallbacks({[this] { return callRunning.load(); }, [this] { record([&] { ++windows; }); },
                           [this](const std::string& title, const std::string& text) {
                             record([&] { alerts.push_back(title + ": " + text); });
                           },
                           [this](const State& state) { record([&] { states.push_back(state); }); }});
  }

  template <class Change>
  void record(Change change) {
    std::lock_guard lock(mutex);
    change();
  }

  // Waits (for real network work, not for timers) for the next matching state
  // after the one the previous wait found.
  template <class Kind>
  Kind waitFor(std::function<bool(const Kind&)> also = nullptr) {
    std::optional<Kind> found;
    const bool reached = test::eventually(
        [&] {
          std::lock_guard lock(mutex);
          for (; seen < states.size() && !found; ++seen)
            if (const auto* k = std::get_if<Kind>(&states[seen]); k && (!also || also(*k))) found = *k;
          return found.has_value();
        },
        20s);
    if (!reached) throw std::runtime_error(fmt::format("state not reached after {} states", seen));
    clock->settle();  // what the same step does after the state change
    return *found;
  }

  Server server;
  test::ScopedEnv ca{"OSKEL_CA_FILE", server.caFile()};
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<SerialQueue> queue = std::make_shared<SerialQueue>("test.main", clock);
  fs::path root = fs::temp_directory_path() / fmt::format("oskel-update-{}", getpid());
  fs::path cache = root / "cache" / "oskel";
  std::string package = std::string(300 * 1024, '\0');
  std::string digest;
  std::shared_ptr<Updater> updater;
  std::atomic<bool> callRunning{false};

  std::mutex mutex;
  std::vector<State> states;
  std::size_t seen = 0;
  std::vector<std::vector<std::string>> installs, relaunches;
  std::vector<std::string> alerts;
  int quits = 0, windows = 0;
};

TEST(UpdateFeed, RefusesBrokenFeedsAndUnsafeVersions) {
  const auto feed = [](std::string_view fields) {
    return decodeRelease(fmt::format(R"({{"version":"1.2","build":3,"url":"https://h/p.deb","sha256":"ab",{}}})", fields));
  };
  EXPECT_TRUE(feed(R"("size":5,"notes":"n","published":"today")").has_value());
  for (const auto* bad : {R"("size":-1)", R"("size":99999999999999)", R"("size":"5")", R"("size":5,"notes":7)",
                          R"("size":0)", R"("other":1)"})
    EXPECT_FALSE(feed(bad).has_value()) << bad;
  EXPECT_FALSE(decodeRelease("<html>").has_value());
  EXPECT_FALSE(decodeRelease(R"({"version":"1","build":2,"url":"file:///etc/passwd","sha256":"a","size":1})"));
  EXPECT_EQ(decodeRelease("[1]").error(), "the update feed is not valid: not a JSON object");

  for (const auto* good : {"1.4.0", "2.0~rc1+b2-3", "A"}) EXPECT_TRUE(isAcceptableVersion(good)) << good;
  for (const auto& bad : {std::string("../../x"), std::string("1.0; rm -rf ~"), std::string("1.0'\""),
                          std::string(200, '1'), std::string(), std::string("1/2"), std::string("1 2")})
    EXPECT_FALSE(isAcceptableVersion(bad)) << bad;
}

TEST(UpdateSettings, ReadsTheEnvironment) {
  test::ScopedEnv feed("OSKEL_UPDATE_FEED", "not a url"), dry("OSKEL_UPDATE_DRYRUN", ""), xdg("XDG_CACHE_HOME", "rel");
  test::ScopedEnv home("HOME", "/home/u");
  auto settings = UpdaterSettings::fromEnvironment();
  EXPECT_EQ(settings.feedURL, defaultFeedURL);
  EXPECT_TRUE(settings.dryRun);
  EXPECT_EQ(settings.cacheFolder, "/home/u/.cache/oskel");  // a relative XDG_CACHE_HOME does not count
  EXPECT_GT(settings.runningBuild, 0);

  test::ScopedEnv feed2("OSKEL_UPDATE_FEED", "https://mirror.example/feed.json"), dry2("OSKEL_UPDATE_DRYRUN", nullptr),
      xdg2("XDG_CACHE_HOME", "/c");
  settings = UpdaterSettings::fromEnvironment();
  EXPECT_EQ(settings.feedURL, "https://mirror.example/feed.json");
  EXPECT_FALSE(settings.dryRun);
  EXPECT_EQ(settings.cacheFolder, "/c/oskel");
}

TEST(UpdateInstaller, MapsPkexecOutcomes) {
  EXPECT_EQ(installFailure({0, "noise"}), std::nullopt);
  EXPECT_EQ(installFailure({126, "x"}), "Installation was cancelled.");
  EXPECT_EQ(installFailure({127, ""}), "Installation was cancelled.");
  EXPECT_EQ(installFailure({100, "\n E: broken package \n"}), "E: broken package");
  EXPECT_EQ(installFailure({1, " \n"}), "The installer failed.");
  EXPECT_EQ(installFailure({-1, ""}), "The installer failed.");
}

TEST_F(UpdaterTest, ComparesBuildsNotVersionTextsWithAFreshTimeOnEveryRequest) {
  publish(10, "9.9.9");
  start();
  updater->check(true);
  waitFor<UpToDate>();
  EXPECT_EQ(alerts, std::vector<std::string>{"You're up to date: Oskel 1.0.0 is the latest version."});
  EXPECT_EQ(updater->lastChecked(), clock->wallNow());

  publish(11, "0.1");
  updater->startAutomaticChecks();
  EXPECT_EQ(waitFor<Available>().release.version, "0.1");
  clock->advance(6h);
  waitFor<Available>();
  server.setRoute("/releases/latest.json", {503, "busy"});
  clock->advance(6h);
  waitFor<Idle>();
  EXPECT_EQ(alerts.size(), 1u);  // automatic checks never alert
  const auto requests = server.requests();
  ASSERT_EQ(requests.size(), 4u);
  const auto epoch = std::chrono::duration_cast<std::chrono::seconds>(ManualClock::defaultWallStart().time_since_epoch());
  for (std::size_t i = 0; i < requests.size(); ++i)
    EXPECT_EQ(requests[i].target, fmt::format("/releases/latest.json?t={}", epoch.count() + (i ? (i - 1) * 21600 : 0)));

  updater->check(true);
  waitFor<Idle>();
  EXPECT_EQ(alerts.back(), "Couldn't check for updates: update feed unavailable");
}

TEST_F(UpdaterTest, InstallsAVerifiedPackageWithPkexecAndRelaunches) {
  publish(12, "1.2.0", [&] { std::string up = digest; for (auto& c : up) c = static_cast<char>(std::toupper(c)); return up; }());
  start();
  callRunning = true;
  updater->check(true);
  EXPECT_EQ(waitFor<Failed>().message, "Finish your call, then run the update again.");
  EXPECT_TRUE(installs.empty());

  callRunning = false;
  updater->beginUpdate();
  EXPECT_EQ(waitFor<Downloading>([&](const Downloading& d) { return d.received == package.size(); }).total, package.size());
  waitFor<Relaunching>();
  const auto saved = cache / "Oskel-1.2.0.deb";
  EXPECT_EQ(installs, (std::vector<std::vector<std::string>>{{"pkexec", "/usr/bin/apt-get", "install", "--yes", saved}}));
  EXPECT_EQ(relaunches,
            (std::vector<std::vector<std::string>>{{"/usr/bin/oskel-app", "--wait-for-pid", std::to_string(getpid())}}));
  clock->advance(499ms);
  EXPECT_EQ(quits, 0);
  clock->advance(1ms);
  EXPECT_EQ(quits, 1);
  EXPECT_EQ(windows, 2);
}

// Which texts are hostile is the feed test's; here the updater's refusal.
TEST_F(UpdaterTest, RefusesHostileVersionsAndDryRunVerifiesWithoutInstallingAndAMismatchRemovesTheFile) {
  start(true);
  publish(20, "../../x");
  updater->check(true);
  EXPECT_EQ(waitFor<Failed>().release, std::nullopt);
  updater->beginUpdate();
  clock->settle();
  EXPECT_EQ(server.requests().size(), 1u);  // no package was fetched
  EXPECT_EQ(std::distance(fs::directory_iterator(root), fs::directory_iterator()), 0);

  publish(12, "1.2.0");
  updater->check(true);
  waitFor<Verifying>();
  waitFor<Available>();
  EXPECT_TRUE(fs::exists(cache / "Oskel-1.2.0.deb"));
  EXPECT_TRUE(installs.empty());

  publish(13, "1.3.0", std::string(64, '0'));
  updater->check(false);
  EXPECT_EQ(waitFor<Available>().release.build, 13);
  updater->beginUpdate();
  EXPECT_EQ(waitFor<Failed>().message, "The downloaded file did not match its checksum.");
  EXPECT_FALSE(fs::exists(cache / "Oskel-1.3.0.deb"));
  EXPECT_TRUE(installs.empty());
}

TEST_F(UpdaterTest, DownloadFaultsFailAndLeaveNoPartialFile) {
  start();
  const auto part = cache / "Oskel-1.2.0.deb.part";
  const auto attempt = [&](Server::Route route, std::size_t announced) {
    server.setRoute("/pkg.deb", std::move(route));
    publish(12, "1.2.0", {}, announced);
    updater->check(true);
    return waitFor<Failed>().message;
  };
  EXPECT_TRUE(attempt({200, package, package.size() + 10}, package.size() + 10).starts_with("Download failed: the connection closed after"));
  EXPECT_TRUE(attempt({200, package}, package.size() - 1).starts_with("Download failed: the server announced"));
  EXPECT_TRUE(attempt({404, "gone"}, package.size()).starts_with("Download failed: HTTP status 404"));
  EXPECT_FALSE(fs::exists(part));

  // The server sends half of a small package (one TLS record), then nothing.
  const std::string small(2048, 'x');
  const auto half = [&](const Downloading& d) { return d.received == small.size() / 2; };
  // A stalled download: "Check for Updates…" only brings the window forward; cancel goes back to the release.
  server.setRoute("/pkg.deb", {200, small, {}, true});
  publish(12, "1.2.0", {}, small.size());
  updater->check(true);
  waitFor<Downloading>(half);
  EXPECT_TRUE(fs::exists(part));
  const int shown = windows;
  updater->check(true);
  updater->cancel();
  EXPECT_EQ(waitFor<Available>().release.build, 12);
  EXPECT_EQ(windows, shown + 1);
  EXPECT_FALSE(fs::exists(part));

  updater->beginUpdate();
  waitFor<Downloading>(half);
  clock->advance(29s);
  EXPECT_TRUE(std::holds_alternative<Downloading>(updater->state()));
  clock->advance(1s);
  EXPECT_EQ(waitFor<Failed>().message, "Download failed: nothing arrived for 30 seconds");
  EXPECT_FALSE(fs::exists(part));
}

TEST_F(UpdaterTest, RunsTheInstallerFoundOnPathWithArgumentsNotAShell) {
  const auto bin = root / "bin";
  fs::create_directories(bin);
  std::ofstream(bin / "pkexec") << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.args\"\n"
                                   "echo '  apt says no  ' >&2\nexit 100\n";
  fs::permissions(bin / "pkexec", fs::perms::owner_all);
  test::ScopedEnv path("PATH", bin.string() + ":" + std::getenv("PATH"));
  publish(12, "1.2.0");
  start(false, true);
  updater->check(true);
  EXPECT_EQ(waitFor<Failed>().message, "apt says no");
  std::ifstream args(bin / "pkexec.args");
  std::vector<std::string> lines;
  for (std::string line; std::getline(args, line);) lines.push_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"/usr/bin/apt-get", "install", "--yes", cache / "Oskel-1.2.0.deb"}));
  EXPECT_TRUE(relaunches.empty());
}

}  // namespace
