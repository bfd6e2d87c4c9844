// Telemetry in virtual time against a local HTTPS server (real TLS, a test CA).
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <future>

#include <boost/json.hpp>

#include "network/HttpsTestServer.h"
#include "InstallSource.h"
#include "QSettingsStore.h"
#include "Telemetry.h"
#include "TelemetryMessage.h"
#include "TelemetryRedaction.h"
#include "concurrency/ManualClock.h"
#include "support/LogCapture.h"
#include "support/ScopedEnv.h"

using namespace oskel;
using namespace std::chrono_literals;
namespace fs = std::filesystem;
namespace json = boost::json;

namespace {

void writeFile(const fs::path& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

class TelemetryTest : public testing::Test {
 protected:
  TelemetryTest() : trust_("OSKEL_CA_FILE", collector.caFile()) {
    dir = fs::temp_directory_path() / ("oskel-telemetry-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    settings = std::make_shared<QSettingsStore>((dir / "settings.ini").string());
  }
  ~TelemetryTest() override { fs::remove_all(dir); }

  std::unique_ptr<Telemetry> make() {
    Telemetry::Config config;
    config.endpoint = collector.url("/v1/batch");
    config.installSourcePath = (dir / "install-source.json").string();
    config.context = {"1.2.3", "45", "Debian GNU/Linux", "12", "de_CH"};
    return std::make_unique<Telemetry>(config, settings, clock);
  }

  json::array batch(size_t index) const {
    return json::parse(collector.requests().at(index).body).as_object().at("batch").as_array();
  }
  static std::vector<std::string> names(const json::array& batch) {
    std::vector<std::string> names;
    for (const auto& message : batch)
      names.emplace_back(message.at(message.as_object().contains("event") ? "event" : "type").as_string());
    return names;
  }

  test::HttpsTestServer collector;
  test::ScopedEnv trust_;
  fs::path dir;
  std::shared_ptr<QSettingsStore> settings;
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
};

}  // namespace

TEST_F(TelemetryTest, FirstRunBatchesWithinOneSecondAndLaterRunsOnlyRepeatTheAttribution) {
  writeFile(dir / "install-source.json", R"({"download_id": "abc123xyz"})");
  auto telemetry = make();
  telemetry->open();
  telemetry->track("Session Started", {{"mode", "call"}});
  clock->advance(900ms);
  EXPECT_TRUE(collector.requests().empty());
  clock->advance(100ms);
  ASSERT_TRUE(collector.waitForRequests(1));

  const auto request = collector.requests().at(0);
  EXPECT_EQ(request.method, "POST");
  EXPECT_EQ(request.target, "/v1/batch");
  EXPECT_EQ(request.contentType, "application/json");
  EXPECT_TRUE(request.authorization.starts_with("Basic ") && request.authorization.size() > 6);
  const auto body = json::parse(request.body).as_object();
  EXPECT_EQ(body.at("sentAt").as_string(), "2025-01-01T00:00:01.000Z");
  const auto first = body.at("batch").as_array();
  EXPECT_EQ(names(first), (std::vector<std::string>{"Application Installed", "identify", "Application Opened",
                                                     "Session Started"}));
  const auto installId = settings->value(Telemetry::installIdKey);
  ASSERT_TRUE(installId && TelemetryMessage::isUUID(*installId));
  std::set<std::string> messageIds;
  for (const auto& message : first) {
    EXPECT_EQ(message.at("anonymousId").as_string(), *installId);
    EXPECT_EQ(message.at("timestamp").as_string(), "2025-01-01T00:00:00.000Z");
    EXPECT_EQ(message.at("context").at("os"), (json::value{{"name", "Debian GNU/Linux"}, {"version", "12"}}));
    EXPECT_EQ(message.at("context").at("app").at("version"), "1.2.3");
    messageIds.insert(std::string(message.at("messageId").as_string()));
  }
  EXPECT_EQ(messageIds.size(), first.size());
  EXPECT_EQ(first[0].at("properties"), (json::value{{"app_version", "1.2.3"}, {"download_id", "abc123xyz"}}));
  EXPECT_EQ(first[1].at("traits"), (json::value{{"download_id", "abc123xyz"}}));
  EXPECT_EQ(first[2].at("properties").at("first_open"), true);

  // Three events within a second leave as one batch of three.
  for (const auto* event : {"A", "B", "C"}) {
    telemetry->track(event);
    clock->advance(300ms);
  }
  clock->advance(100ms);
  ASSERT_TRUE(collector.waitForRequests(2));
  EXPECT_EQ(names(batch(1)), (std::vector<std::string>{"A", "B", "C"}));

  // The next run: the id is remembered even though the file is gone.
  telemetry.reset();
  fs::remove(dir / "install-source.json");
  telemetry = make();
  telemetry->open();
  clock->advance(1s);
  ASSERT_TRUE(collector.waitForRequests(3));
  const auto later = batch(2);
  EXPECT_EQ(names(later), (std::vector<std::string>{"identify", "Application Opened"}));
  EXPECT_EQ(later[0].at("traits"), (json::value{{"download_id", "abc123xyz"}}));
  EXPECT_EQ(later[1].at("properties").at("first_open"), false);
  EXPECT_EQ(later[1].at("anonymousId").as_string(), *installId);
}

TEST_F(TelemetryTest, DropsOnlyWhatJsonCannotCarryAndNeverSendsAKey) {
  Log::setVerbose(true);
  test::LogCapture log;
  auto telemetry = make();
  telemetry->track("Kept");
  telemetry->track("Not a number", {{"x", std::nan("")}});
  telemetry->screen("Not text", {{"name", "\xff\xfe"}});
  telemetry->track("Session Failed",
                   {{"reason", redactedForTelemetry("Incorrect API key provided: sk-proj-AbC_12-3*xyz. " +
                                                    std::string(300, 'x'))}});
  clock->advance(1s);
  ASSERT_TRUE(collector.waitForRequests(1));
  Log::setVerbose(false);
  const auto sent = batch(0);
  EXPECT_EQ(names(sent), (std::vector<std::string>{"Application Installed", "identify", "Kept", "Session Failed"}));
  const auto reason = std::string(sent[3].at("properties").at("reason").as_string());
  EXPECT_TRUE(reason.starts_with("Incorrect API key provided: sk-\u2026 xxx")) << reason;
  EXPECT_EQ(collector.requests().at(0).body.find("sk-proj"), std::string::npos);
  EXPECT_EQ(log.count("telemetry: dropped a track message with non-JSON values"), 1u);
  EXPECT_EQ(log.count("telemetry: dropped a screen message with non-JSON values"), 1u);
  // Cut to 200 characters, not bytes.
  std::string accents;
  for (int i = 0; i < 250; ++i) accents += "\u00e9";
  EXPECT_EQ(redactedForTelemetry(accents).size(), 400u);
  EXPECT_EQ(cutToCharacters("\u00e9\u00e9\u00e9", 2), "\u00e9\u00e9");
}

TEST_F(TelemetryTest, QuitWaitsForTheAnswerButAtMostTheBound) {
  auto telemetry = make();
  telemetry->open();
  clock->advanceSeconds(12.34);
  ASSERT_TRUE(collector.waitForRequests(1));
  // An answering collector lets quit return without any time passing.
  std::async(std::launch::async, [&] { telemetry->quit(); }).get();
  ASSERT_EQ(collector.requests().size(), 2u);
  EXPECT_EQ(names(batch(1)), std::vector<std::string>{"Application Quit"});
  EXPECT_EQ(batch(1)[0].at("properties").at("seconds_open").to_number<double>(), 12.3);

  collector.setAnswering(false);
  auto quitting = std::async(std::launch::async, [&] { telemetry->quit(); });
  ASSERT_TRUE(collector.waitForRequests(3));
  clock->settle();
  clock->advance(1400ms);
  EXPECT_EQ(quitting.wait_for(100ms), std::future_status::timeout);
  clock->advance(100ms);
  EXPECT_EQ(quitting.wait_for(20s), std::future_status::ready);
}

TEST_F(TelemetryTest, SwitchedOffNothingIsQueuedOrSent) {
  {
    test::ScopedEnv off("OSKEL_TELEMETRY", "0");
    test::ScopedEnv url("OSKEL_TELEMETRY_URL", collector.url("/v1/batch"));
    auto config = Telemetry::configFromEnvironment();
    EXPECT_FALSE(config.enabled);
    EXPECT_EQ(config.endpoint, collector.url("/v1/batch"));
    Telemetry telemetry(config, settings, clock);
    telemetry.open();
    telemetry.track("Session Started");
    clock->advance(2s);
    telemetry.quit();
  }
  EXPECT_EQ(settings->value(Telemetry::installIdKey), std::nullopt);
  {
    test::ScopedEnv on("OSKEL_TELEMETRY", "1");
    test::ScopedEnv url("OSKEL_TELEMETRY_URL", "not a url");
    const auto config = Telemetry::configFromEnvironment();
    EXPECT_TRUE(config.enabled);
    EXPECT_EQ(config.endpoint, Telemetry::defaultEndpoint());
  }
  // A later enabled run's batch is the only request the collector ever saw.
  make()->quit();
  ASSERT_TRUE(collector.waitForRequests(1));
  EXPECT_EQ(collector.requests().size(), 1u);
}

TEST_F(TelemetryTest, BadFilesAndIdentifiersGiveNone) {
  const auto source = (dir / "install-source.json").string();
  EXPECT_EQ(InstallSource::read(source), std::nullopt);  // missing
  for (const auto* text : {"not json", "[\"abc123\"]", "{}", R"({"download_id": 123456})",
                           R"({"download_id": "ABCdef123"})", R"({"download_id": "abc12"})",
                           R"({"download_id": "abcdefghijabcdefghijabcdefghij123"})", R"({"download_id": "abc-123"})"}) {
    writeFile(source, text);
    EXPECT_EQ(InstallSource::read(source), std::nullopt) << text;
  }
  writeFile(source, R"({"download_id": "abcdefghijabcdefghijabcdefghij12"})");
  EXPECT_EQ(InstallSource::read(source), "abcdefghijabcdefghijabcdefghij12");

  // A settings file of garbage holds nothing; an invalid remembered id gives way to the file's.
  writeFile(dir / "garbage.ini", std::string("\x00\xff[[[=\n\x01", 9));
  QSettingsStore garbage((dir / "garbage.ini").string());
  EXPECT_EQ(garbage.value(Telemetry::installIdKey), std::nullopt);
  garbage.setValue(Attribution::settingsKey, "Not-Valid");
  EXPECT_EQ(Attribution::downloadId(garbage, source), "abcdefghijabcdefghijabcdefghij12");
  EXPECT_EQ(garbage.value(Attribution::settingsKey), "abcdefghijabcdefghijabcdefghij12");

  writeFile(dir / "os-release", "PRETTY_NAME=\"x\"\nNAME=\"Debian GNU/Linux\"\nVERSION_ID=\"12\"\n");
  TelemetryContext context;
  context.readOsRelease((dir / "os-release").string());
  EXPECT_EQ(context.osName, "Debian GNU/Linux");
  EXPECT_EQ(context.osVersion, "12");
}
