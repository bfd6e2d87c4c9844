#include "dsp/PCM16.h"

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>

namespace oskel {
namespace {

std::vector<int16_t> encodedValues(const std::vector<float>& samples) {
  const auto bytes = PCM16::encode(samples);
  std::vector<int16_t> values(bytes.size() / 2);
  for (size_t i = 0; i < values.size(); ++i)
    values[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8)));
  return values;
}

TEST(PCM16, EncodeScalesBy32767RoundsHalfAwayClampsAndIsLittleEndian) {
  EXPECT_EQ(encodedValues({1.0f, -1.0f, 0.5f, 2.0f, -3.0f}),
            (std::vector<int16_t>{32767, -32767, 16384, 32767, -32767}));
  EXPECT_EQ(encodedValues({-0.5f}), std::vector<int16_t>{-16384});
  EXPECT_EQ(encodedValues({0.0000152f, 0.0000153f, -0.0000153f}), (std::vector<int16_t>{0, 1, -1}));
  EXPECT_EQ(encodedValues({std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::infinity()}),
            (std::vector<int16_t>{32767, -32767}));
  EXPECT_EQ(PCM16::encode(std::vector<float>{-1.0f}), (std::vector<uint8_t>{0x01, 0x80}));
}

TEST(PCM16, DecodeScalesByOneOver32768AndIgnoresAnOddByte) {
  EXPECT_EQ(PCM16::decode(std::vector<uint8_t>{0x00, 0x80}), std::vector<float>{-1.0f});
  EXPECT_FLOAT_EQ(PCM16::decode(std::vector<uint8_t>{0xFF, 0x7F})[0], 0.99996948f);
  EXPECT_EQ(PCM16::decode(std::vector<uint8_t>{0x00, 0x40, 0x7F}), std::vector<float>{0.5f});
  EXPECT_TRUE(PCM16::decode(std::vector<uint8_t>{0x12}).empty());
  // Full scale does not survive a round trip exactly: 32767/32768.
  EXPECT_EQ(PCM16::decode(PCM16::encode(std::vector<float>{1.0f}))[0], 32767.0f / 32768.0f);
}

TEST(PCM16, Levels) {
  EXPECT_EQ(PCM16::rms(std::vector<float>{}), 0.0f);
  EXPECT_FLOAT_EQ(PCM16::rms(std::vector<float>{3, 4}), std::sqrt(12.5f));
  EXPECT_EQ(PCM16::dBFS(std::vector<float>{}), -120.0f);
  EXPECT_EQ(PCM16::dBFS(std::vector<float>{0, 0, 0}), -120.0f);
  EXPECT_FLOAT_EQ(PCM16::dBFS(std::vector<float>{1, -1}), 0.0f);
  EXPECT_NEAR(PCM16::dBFS(std::vector<float>{0.001f}), -60.0f, 1e-4);
  EXPECT_NEAR(PCM16::dBFS(std::vector<float>{1e-7f}), -140.0f, 1e-3);  // no clamp at -120

  std::vector<float> sine(4800);
  for (size_t i = 0; i < sine.size(); ++i) sine[i] = static_cast<float>(std::sin(2 * std::numbers::pi * 1000.0 * double(i) / 48000.0));
  EXPECT_NEAR(PCM16::dBFS(sine), -3.0103f, 1e-3);
  // Odd lengths exercise the tail of the four-lane sum.
  EXPECT_FLOAT_EQ(PCM16::rms(std::vector<float>{1, 1, 1, 1, 1, 1, 1}), 1.0f);
}

}  // namespace
}  // namespace oskel
