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

}  // namespace
}  // namespace oskel::test
