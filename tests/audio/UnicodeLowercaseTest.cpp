// Device names match case-insensitively in every script, whatever the locale.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "audio/UnicodeLowercase.h"

namespace oskel {
namespace {

TEST(UnicodeLowercase, EveryScriptUnderTheCLocale) {
  const std::string saved = std::setlocale(LC_ALL, nullptr);
  std::setlocale(LC_ALL, "C");
  EXPECT_EQ(unicodeLowercase("USB ÉCOUTEURS Ñandú"), "usb écouteurs ñandú");
  EXPECT_EQ(unicodeLowercase("МИКРОФОН Ελληνικά ΣΟΦΙΑ"), "микрофон ελληνικά σοφια");
  EXPECT_EQ(unicodeLowercase("ԱՐՄ Ⴀ 𐐀 ＡＢＣ"), "արմ ⴀ 𐐨 ａｂｃ");  // Armenian, Georgian, Deseret, full width
  EXPECT_EQ(unicodeLowercase("マイク 麦克风 마이크"), "マイク 麦克风 마이크");  // no case: unchanged
  EXPECT_EQ(unicodeLowercase("A\xC3\x28Z\xF0\x9F"), "a\xC3\x28z\xF0\x9F");  // malformed bytes kept
  std::setlocale(LC_ALL, saved.c_str());
}

}  // namespace
}  // namespace oskel
