#include <gtest/gtest.h>

#include "orchestration/TranslatorVocabulary.h"

using namespace oskel;

TEST(TranslatorVocabulary, RawValuesAreExactAndCaseSensitive) {
  EXPECT_EQ(callDirectionFromRaw("outgoing"), CallDirection::outgoing);
  EXPECT_EQ(callDirectionFromRaw("incoming"), CallDirection::incoming);
  EXPECT_FALSE(callDirectionFromRaw("Outgoing"));
  EXPECT_EQ(rawValue(CallDirection::incoming), "incoming");
  EXPECT_EQ(transcriptKindFromRaw("heard"), TranscriptKind::heard);
  EXPECT_FALSE(transcriptKindFromRaw("spoken"));
  EXPECT_EQ(rawValue(TranscriptKind::said), "said");
}

TEST(TranslatorVocabulary, StatesCompareByCaseAndMessage) {
  const TranslatorState a = TranslatorStates::Failed{"a"};
  EXPECT_EQ(a, TranslatorState(TranslatorStates::Failed{"a"}));
  EXPECT_NE(a, TranslatorState(TranslatorStates::Failed{"b"}));
  EXPECT_NE(a, TranslatorState(TranslatorStates::Idle{}));
  EXPECT_EQ(describe(a), "failed: a");
  EXPECT_EQ(describe(TranslatorStates::Reconnecting{}), "reconnecting");
}

TEST(TranslatorVocabulary, ErrorTexts) {
  EXPECT_EQ(TranslatorError::sameDevice("MacBook Speakers").description(),
            "MacBook Speakers cannot be both a Oskel virtual device and your real microphone/speaker");
  EXPECT_EQ(TranslatorError::driverMissing("no device OskelSpeaker_UID").description(),
            "the Oskel virtual audio devices are not available (no device OskelSpeaker_UID); is OskelAudio.driver "
            "installed?");
  EXPECT_EQ(TranslatorError::noDefaultDevices().description(),
            "could not determine the default input/output devices; choose a microphone and speaker");
}
