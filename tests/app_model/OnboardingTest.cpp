#include <QTranslator>

#include "ModelTestSupport.h"

namespace oskel::testing {
namespace {

using namespace TranslatorStates;

TEST_F(ModelTest, AFailedPlaygroundStartIsRetriedOnceAfterASecondAndReportedOnce) {
  scripted->prepare = [](ScriptedOrchestrator& made) { made.startFailure = "microphone busy"; };
  model().openPlayground();
  EXPECT_FALSE(model().microphoneDenied());
  advance(0.9);
  EXPECT_EQ(scripted->made.size(), 1u);
  advance(0.1);
  EXPECT_EQ(scripted->made.size(), 2u);
  advance(5);
  EXPECT_EQ(scripted->made.size(), 2u);
  EXPECT_EQ(model().playgroundMessage(), "microphone busy");
  ASSERT_EQ(tracked("Playground Ended").size(), 1u);
  const auto ended = tracked("Playground Ended")[0];
  EXPECT_EQ(ended.at("retry"), true);
  EXPECT_EQ(ended.at("ended_by"), "start_failed");
  EXPECT_EQ(ended.at("reason"), "microphone busy");
  EXPECT_TRUE(tracked("Playground Started").empty());
}

TEST_F(ModelTest, ThePlaygroundRestartsOnceForSettingsAndReportsEachRun) {
  model().openPlayground();
  auto& first = last();
  EXPECT_EQ(first.kind, OrchestratorKind::playground);
  EXPECT_TRUE(first.config().transcribeInput);
  first.raiseState(Live{});
  first.raise(TranslatorEvents::Transcript{{CallDirection::outgoing, TranscriptKind::said, "Hola"}});
  settle();
  EXPECT_TRUE(model().playgroundSpoke());
  model().setVoiceOverLevel(-20);  // not a playground setting
  model().setMyLanguage("de");
  advance(0.3);
  model().setMyLanguage("fr");
  advance(0.6);
  ASSERT_EQ(scripted->made.size(), 2u);
  EXPECT_EQ(last().config().myLanguage, "fr");
  EXPECT_TRUE(model().playgroundRestarting());
  const auto run = tracked("Playground Ended");
  ASSERT_EQ(run.size(), 1u);
  EXPECT_EQ(run[0].at("ended_by"), "settings_changed");
  EXPECT_EQ(run[0].at("spoke"), true);
  EXPECT_EQ(run[0].at("duration_s"), 0.9);

  model().leavePlayground("window_closed");
  settle();
  EXPECT_EQ(tracked("Playground Ended").size(), 2u);
  const auto dismissed = tracked("Onboarding Dismissed");
  ASSERT_EQ(dismissed.size(), 1u);
  EXPECT_EQ(dismissed[0].at("via"), "window_closed");
  EXPECT_EQ(dismissed[0].at("completed"), true);
  EXPECT_EQ(preferences->values["onboardingCompleted"], "true");  // the next launch opens the main window
  model().leavePlayground("quit");
  EXPECT_EQ(tracked("Onboarding Dismissed").size(), 1u);
}

TEST_F(ModelTest, DeniedMicrophoneStartsNothingAndGetStartedCompletesOnboarding) {
  bool denied = true;
  microphoneAccess = [&](std::function<void(bool)> answer) { answer(!denied); };
  auto& prompted = model();
  prompted.openPlayground();
  EXPECT_TRUE(prompted.microphoneDenied());
  EXPECT_TRUE(scripted->made.empty());

  denied = false;
  prompted.openPlayground();
  ASSERT_EQ(scripted->made.size(), 1u);
  advance(12.34);
  bool completed = false;
  prompted.finishOnboarding(12.34, [&] { completed = true; });
  settle();
  EXPECT_TRUE(completed);
  EXPECT_TRUE(prompted.onboardingCompleted());
  const auto done = tracked("Onboarding Completed");
  ASSERT_EQ(done.size(), 1u);
  EXPECT_EQ(done[0].at("steps"), 1);
  EXPECT_EQ(done[0].at("seconds"), 12.3);
  EXPECT_EQ(tracked("Playground Ended").back().at("ended_by"), "get_started");
}

TEST(InterfaceLanguage, SystemChoiceFollowsTheUsersVariablesInOrder) {
  const auto choose = [](std::map<std::string, std::string> variables) {
    L10n l10n(std::make_shared<MemoryPreferences>(), {"de", "en", "es"},
              [variables](const char* name) { return variables.contains(name) ? variables.at(name) : ""; });
    return l10n.systemChoice();
  };
  EXPECT_EQ(choose({{"LANG", "de_DE.UTF-8"}}), "de");
  EXPECT_EQ(choose({{"LANGUAGE", "fr:es"}, {"LANG", "de_DE.UTF-8"}}), "es");
  EXPECT_EQ(choose({{"LC_ALL", "es_ES.UTF-8"}, {"LANG", "de_DE.UTF-8"}}), "es");
  EXPECT_EQ(choose({{"LC_ALL", "C"}, {"LANGUAGE", "de"}}), "en");
  EXPECT_EQ(choose({{"LANG", "ja_JP.UTF-8"}}), "en");

  auto preferences = std::make_shared<MemoryPreferences>();
  L10n l10n(preferences, L10n::shipped());
  EXPECT_EQ(l10n.available(), (std::vector<std::string>{"de", "en", "es"}));
  l10n.setLanguageOverride("de");
  EXPECT_EQ(l10n.chosen(), "de");
  l10n.setLanguageOverride(std::nullopt);
  EXPECT_FALSE(preferences->values.contains(L10n::overrideKey));
  for (const auto& [language, text] : {std::pair{"de", "Übersetzung starten"}, {"es", "Empezar a traducir"}}) {
    QTranslator translator;
    ASSERT_TRUE(translator.load(QString("oskel_") + language, ":/i18n"));
    EXPECT_EQ(translator.translate(L10n::context, "Start Translating").toStdString(), text);
  }
}

}  // namespace
}  // namespace oskel::testing
