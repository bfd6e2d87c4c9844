#include <boost/json.hpp>

#include "ModelTestSupport.h"

namespace oskel::testing {
namespace {

using namespace TranslatorStates;

TEST(SettingsDocument, DecodesOnlyCompleteDocumentsAndDefaultsBySystemLanguage) {
  auto settings = AppSettings::defaults("de");
  EXPECT_EQ(settings.myLanguage, "de");
  EXPECT_EQ(settings.theirLanguage, "en");
  EXPECT_EQ(AppSettings::defaults("en").theirLanguage, "es");
  EXPECT_EQ(AppSettings::defaults("xx").myLanguage, "en");
  settings.microphoneUID = "usb-mic";
  settings.groupCallOption = true;
  EXPECT_EQ(AppSettings::decode(settings.encode()), settings);

  auto object = boost::json::parse(settings.encode()).as_object();
  object["voiceOverLevel"] = -12;  // a whole number is still a level
  EXPECT_EQ(AppSettings::decode(boost::json::serialize(object))->voiceOverLevel, -12.0);
  object["voiceOverLevel"] = 300.0;  // hand-edited: must not amplify the original voice
  object["duckLevel"] = -1e300;
  EXPECT_EQ(AppSettings::decode(boost::json::serialize(object))->voiceOverLevel, 0.0);
  EXPECT_EQ(AppSettings::decode(boost::json::serialize(object))->duckLevel, AppSettings::lowestLevelDB);
  object["voiceOverLevel"] = -12;
  object.erase("microphoneUID");
  object["groupCallOption"] = nullptr;
  EXPECT_TRUE(AppSettings::decode(boost::json::serialize(object)));
  object["captions"] = "yes";
  EXPECT_FALSE(AppSettings::decode(boost::json::serialize(object)));
  object.erase("captions");
  EXPECT_FALSE(AppSettings::decode(boost::json::serialize(object)));
  EXPECT_FALSE(AppSettings::decode("[1,2"));

  // That levels alone restart nothing is pinned by the sliders test below.
  auto unducked = settings;
  unducked.ducking = false;
  EXPECT_NE(unducked.sessionSignature(), settings.sessionSignature());
}

TEST_F(ModelTest, ADocumentMissingAFieldResetsToDefaultsAndTheKeyNeverReachesTheSettings) {
  systemLanguage = "de";
  preferences->values["settings"] = R"({"myLanguage":"fr","theirLanguage":"en"})";
  preferences->values["mode"] = "in_person";
  EXPECT_EQ(model().settings(), AppSettings::defaults("de"));
  EXPECT_EQ(model().mode(), AppModel::Mode::inPerson);
  // The interface follows the user's language when it ships one.
  model().setMyLanguage("es");
  EXPECT_EQ(model().l10n().languageOverride(), "es");
  model().setAPIKey("  sk-secret-key\n");
  EXPECT_EQ(secrets->key, "sk-secret-key");
  for (const auto& [key, value] : preferences->values) EXPECT_EQ(value.find("sk-secret"), std::string::npos) << key;

  preferences->writable = false;  // a settings file that cannot be written keeps the setting in memory
  model().setCaptions(false);
  EXPECT_FALSE(model().settings().captions);
  model().setMode(AppModel::Mode::call);
  EXPECT_EQ(preferences->values["mode"], "call");
}

TEST_F(ModelTest, DerivedDevicesHideTheLoopbackDevicesAndFollowTheSelection) {
  secrets->key.reset();
  EXPECT_TRUE(model().driverInstalled());
  ASSERT_EQ(model().microphones().size(), 1u);
  EXPECT_EQ(model().speakers().front().uid, "headphones");
  model().setMicrophoneUID("usb-mic");
  EXPECT_EQ(model().selectedMicrophone()->id, 10u);
  model().setSpeakerUID(std::string(AudioDevices::oskelSpeakerUID));
  EXPECT_FALSE(model().selectedSpeaker());
  devices.resize(2);
  model().scheduleDeviceRefresh(0);
  settle();
  EXPECT_FALSE(model().driverInstalled());
  EXPECT_FALSE(model().canStart());
  model().start();
  EXPECT_EQ(model().errorMessage(), "Add your OpenAI API key to start translating.");
  EXPECT_TRUE(scripted->made.empty());
}

TEST_F(ModelTest, SlidersChangeLevelsLiveSessionSettingsRestartOnceAndARecordingContinuesInANewFile) {
  auto& first = goLive();
  model().setVoiceOverLevel(-10);
  model().setDucking(true);
  model().setDuckLevel(-24);
  advance(2);
  ASSERT_EQ(first.levelChanges.size(), 2u);
  EXPECT_EQ(first.levelChanges.back(), (std::pair<double, std::optional<double>>{-10, -24}));

  model().setMyLanguage("de");
  advance(0.4);
  model().setEchoCancellation(false);
  advance(0.5);
  EXPECT_EQ(scripted->made.size(), 1u);
  advance(0.1);
  ASSERT_EQ(scripted->made.size(), 2u);
  EXPECT_EQ(first.lastStopFast, true);
  EXPECT_TRUE(model().callRestarting());
  const auto& second = last();
  EXPECT_EQ(second.config().myLanguage, "de");
  EXPECT_FALSE(second.config().echoCancellation);
  EXPECT_EQ(tracked("Session Ended").back().at("ended_by"), "settings_changed");
  last().raiseState(Live{});
  settle();
  EXPECT_FALSE(model().callRestarting());

  // Changed and changed back inside the window: nothing to restart.
  model().setCaptions(false);
  model().setCaptions(true);
  advance(1);
  EXPECT_EQ(scripted->made.size(), 2u);

  model().startRecording();
  ASSERT_TRUE(model().isRecording());
  const auto firstFile = *model().recordingURL();
  model().setTheirLanguage("fr");
  advance(0.6);
  settle();
  ASSERT_EQ(scripted->made.size(), 3u);
  ASSERT_EQ(last().recordingsStarted.size(), 1u);
  EXPECT_TRUE(model().isRecording());
  EXPECT_NE(*model().recordingURL(), firstFile);
  EXPECT_EQ(model().recordings().size(), 2u);

  model().stop();
  settle();
  EXPECT_FALSE(model().isRecording());
  EXPECT_EQ(model().lastSavedRecording()->url, last().recordingsStarted.front());
  EXPECT_EQ(model().state(), TranslatorState(Idle{}));
}

TEST_F(ModelTest, CaptionsJoinFreshLinesKeepOverlappingSpeakersApartAndHoldTwoHundred) {
  goLive();
  const auto send = [&](CallDirection direction, TranscriptKind kind, std::string text) {
    last().raise(TranslatorEvents::Transcript{{direction, kind, std::move(text)}});
    settle();
  };
  send(CallDirection::outgoing, TranscriptKind::heard, "Hello ");
  send(CallDirection::incoming, TranscriptKind::heard, "Hola");
  send(CallDirection::outgoing, TranscriptKind::said, "Hola ");  // the line before the last one
  advance(2.9);
  send(CallDirection::outgoing, TranscriptKind::heard, "there");
  ASSERT_EQ(model().captions().size(), 2u);
  EXPECT_EQ(model().captions()[0].heard, "Hello there");
  EXPECT_EQ(model().captions()[0].said, "Hola ");
  advance(3.0);
  send(CallDirection::outgoing, TranscriptKind::heard, "Again");
  EXPECT_EQ(model().captions().size(), 3u);

  CaptionList list;
  auto at = clock->now();
  for (int i = 0; i < 201; ++i) {
    at += std::chrono::seconds(4);
    list.append({CallDirection::incoming, TranscriptKind::said, std::to_string(i)}, at);
  }
  EXPECT_EQ(list.lines().size(), 200u);
  EXPECT_EQ(list.lines().front().said, "1");

  model().stop();
  settle();
  EXPECT_EQ(model().captions().size(), 3u);  // stopping keeps them on screen
  EXPECT_EQ(tracked("Session Ended").back().at("caption_lines"), 3);
}

TEST_F(ModelTest, FailuresReachTelemetryRedactedAndTheUserUnchanged) {
  scripted->makeFailures.push_back(OrchestratorError::of(std::string("rejected key sk-proj-Ab12_x.y… for you")));
  model().start();
  EXPECT_EQ(model().state(), TranslatorState(Failed{"rejected key sk-proj-Ab12_x.y… for you"}));
  EXPECT_EQ(model().errorMessage(), "rejected key sk-proj-Ab12_x.y… for you");
  ASSERT_EQ(tracked("Session Failed").size(), 1u);
  EXPECT_EQ(tracked("Session Failed")[0].at("reason"), "rejected key sk-… for you");

  // A later toggle starts afresh; a failure while running stops the call and stays shown.
  model().toggle();
  settle();
  auto& running = last();
  running.raiseState(Failed{std::string(300, 'x') + " sk-live"});
  settle();
  EXPECT_EQ(running.stops, 1);
  EXPECT_TRUE(std::holds_alternative<Failed>(model().state()));
  EXPECT_EQ(tracked("Session Failed")[1].at("reason").as_string().size(), 200u);
  EXPECT_EQ(tracked("Session Ended").back().at("ended_by"), "error");
}

TEST_F(ModelTest, ARelaySignOutKeepsTheCallAndANewKeyRestartsIt) {
  secrets->key.reset();
  secrets->token = "relay-token";
  auto& call = goLive();
  EXPECT_FALSE(call.config().credential.isOpenAI());
  call.raiseState(Passthrough{});
  call.raise(TranslatorEvents::SignedOut{});
  settle();
  EXPECT_FALSE(model().accessToken());
  EXPECT_FALSE(secrets->token);
  EXPECT_EQ(call.stops, 0);

  model().setAPIKey(" \n\t ");
  EXPECT_FALSE(model().apiKey());
  secrets->failure = "the keyring is locked";
  model().setAPIKey("sk-new");
  EXPECT_EQ(model().errorMessage(), "Could not save the key: the keyring is locked");
  secrets->failure.reset();
  model().setAPIKey("sk-new");
  settle();
  ASSERT_EQ(scripted->made.size(), 2u);
  EXPECT_EQ(last().config().credential, TranslationCredential::openai("sk-new"));
}

TEST_F(ModelTest, InPersonBuildsAConversationAndCountsTurns) {
  model().setMode(AppModel::Mode::inPerson);
  model().setEchoCancellation(false);
  model().setTurn(CallDirection::incoming);
  auto& conversation = goLive();
  EXPECT_EQ(conversation.kind, OrchestratorKind::conversation);
  EXPECT_EQ(conversation.turn, CallDirection::incoming);
  EXPECT_TRUE(conversation.config().echoCancellation);
  EXPECT_FALSE(conversation.config().voiceOver);
  model().toggleTurn();
  model().toggleTurn();
  model().setTurn(CallDirection::incoming);
  model().startRecording();
  EXPECT_FALSE(model().isRecording());
  model().toggle();
  settle();
  const auto ended = tracked("Session Ended").back();
  EXPECT_EQ(ended.at("turns"), 2);
  EXPECT_EQ(ended.at("mode"), "in_person");
  EXPECT_EQ(tracked("Session Started").back().at("mode"), "in_person");
}

TEST_F(ModelTest, DeviceBurstsRefreshOnceAndTheDriverInstallReportsItsFailure) {
  std::function<void(std::expected<void, std::string>)> finish;
  installer = [&](auto completion) { finish = std::move(completion); };
  const int before = (model(), deviceReads);
  for (int i = 0; i < 3; ++i) {
    devicesChanged();
    advance(0.1);
  }
  EXPECT_EQ(deviceReads, before);
  advance(0.2);
  EXPECT_EQ(deviceReads, before + 1);

  model().installDriver();
  EXPECT_TRUE(model().installingDriver());
  finish(std::unexpected(std::string("no audio server")));
  EXPECT_FALSE(model().installingDriver());
  EXPECT_EQ(model().errorMessage(), "Driver install failed: no audio server");
  advance(1.9);
  EXPECT_EQ(deviceReads, before + 1);
  advance(0.1);
  EXPECT_EQ(deviceReads, before + 2);
}

}  // namespace
}  // namespace oskel::testing
