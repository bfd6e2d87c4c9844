#include <gtest/gtest.h>

#include "orchestration/TranslatorConfig.h"

namespace oskel::test {
namespace {

TEST(TranslatorConfig, TheShortConstructorAppliesEveryDefault) {
  const TranslatorConfig config(TranslationCredential::oskel("token"), "en", "de");
  EXPECT_FALSE(config.voiceOver);
  EXPECT_FALSE(config.microphone);
  EXPECT_FALSE(config.speaker);
  EXPECT_EQ(config.virtualMicrophone, "Oskel Microphone");
  EXPECT_EQ(config.virtualSpeaker, "Oskel Speaker");
  EXPECT_TRUE(config.echoCancellation);
  EXPECT_EQ(config.noiseReduction, "near_field");
  EXPECT_EQ(config.incomingNoiseReduction, "far_field");
  EXPECT_TRUE(config.normalizeIncoming);
  EXPECT_FALSE(config.groupCall);
  EXPECT_TRUE(config.transcribeInput);
  EXPECT_TRUE(config.silenceGate);
  EXPECT_EQ(TranslatorConfig::withAPIKey("sk-1", "en", "de").credential, TranslationCredential::openai("sk-1"));
}

TEST(TranslatorConfig, VoiceOverDirectionsHaveExactRawValues) {
  using Directions = TranslatorConfig::VoiceOver::Directions;
  for (auto directions : {Directions::both, Directions::incoming, Directions::outgoing})
    EXPECT_EQ(voiceOverDirectionsFromRaw(rawValue(directions)), directions);
  EXPECT_EQ(rawValue(Directions::incoming), "incoming");
  EXPECT_FALSE(voiceOverDirectionsFromRaw("Both"));
  EXPECT_FALSE(voiceOverDirectionsFromRaw(""));
  const TranslatorConfig::VoiceOver constant{-12.0, std::nullopt, Directions::both};
  EXPECT_NE(constant, (TranslatorConfig::VoiceOver{-12.0, -24.0, Directions::both}));
  EXPECT_EQ(constant, (TranslatorConfig::VoiceOver{-12.0, std::nullopt, Directions::both}));
}

}  // namespace
}  // namespace oskel::test
