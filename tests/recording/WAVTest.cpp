#include "recording/WAV.h"

#include <bit>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RecordingTestSupport.h"
#include "dsp/PCM16.h"

namespace oskel {
namespace {

using Bytes = std::vector<uint8_t>;

void put(Bytes& b, uint32_t value, int size) {
  for (int i = 0; i < size; ++i) b.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

Bytes chunk(const std::string& id, const Bytes& body) {
  Bytes b(id.begin(), id.end());
  put(b, static_cast<uint32_t>(body.size()), 4);
  b.insert(b.end(), body.begin(), body.end());
  if (body.size() % 2) b.push_back(0);
  return b;
}

Bytes formatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  Bytes b;
  put(b, tag, 2);
  put(b, channels, 2);
  put(b, rate, 4);
  put(b, rate * channels * bits / 8, 4);
  put(b, channels * bits / 8u, 2);
  put(b, bits, 2);
  return b;
}

Bytes extensibleBody(uint16_t realTag, uint16_t channels, uint32_t rate, uint16_t bits) {
  Bytes b = formatBody(0xFFFE, channels, rate, bits);
  put(b, 22, 2);    // extension size
  put(b, bits, 2);  // valid bits
  put(b, 0, 4);     // channel mask
  put(b, realTag, 2);
  const uint8_t guidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  b.insert(b.end(), guidTail, guidTail + 14);
  return b;
}

Bytes riff(const std::vector<Bytes>& chunks) {
  Bytes body{'W', 'A', 'V', 'E'};
  for (const auto& c : chunks) body.insert(body.end(), c.begin(), c.end());
  Bytes b{'R', 'I', 'F', 'F'};
  put(b, static_cast<uint32_t>(body.size()), 4);
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

Bytes samples16(std::initializer_list<int16_t> values) {
  Bytes b;
  for (int16_t v : values) put(b, static_cast<uint16_t>(v), 2);
  return b;
}

TEST(WAVFiles, WrittenFileHasTheStandardHeaderReadsBackAndIsReplacedWhole) {
  const test::TempFolder dir;
  std::vector<float> samples(48000);
  for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<float>(0.8 * std::sin(double(i) * 0.05));
  const auto path = dir / "tone.wav";
  ASSERT_TRUE(WAV::writePCM16(samples, 48000, path));
  EXPECT_EQ(std::filesystem::file_size(path), 96044u);

  std::ifstream in(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto h = WAV::pcm16Header(96000, 48000, 1);
  EXPECT_TRUE(std::equal(h.begin(), h.end(), bytes.begin()));
  EXPECT_EQ(WAV::readLE32(bytes, 4), 96036u);
  EXPECT_EQ(WAV::readLE32(bytes, 28), 96000u);  // byte rate
  EXPECT_EQ(WAV::readLE16(bytes, 32), 2u);      // block alignment
  EXPECT_EQ(WAV::readLE32(bytes, 40), 96000u);

  const auto info = WAV::info(path);
  ASSERT_TRUE(info) << info.error().description();
  EXPECT_EQ(info->frames, 48000);
  EXPECT_EQ(info->channels, 1);
  EXPECT_EQ(info->bitsPerSample, 16);
  EXPECT_EQ(info->sampleRate, 48000.0);

  const auto audio = WAV::read(path);
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->samples, PCM16::decode(PCM16::encode(samples)));
  EXPECT_DOUBLE_EQ(audio->duration(), 1.0);

  // Writing again replaces the file whole.
  ASSERT_TRUE(WAV::writePCM16(std::vector<float>(10, 0.1f), 44100.9, path));
  EXPECT_EQ(std::filesystem::file_size(path), 64u);
  EXPECT_EQ(WAV::info(path)->sampleRate, 44100.0);  // truncated
  EXPECT_FALSE(std::filesystem::exists(dir / "tone.wav.partial"));
  for (double bad : {-1.0, std::nan(""), 4294967296.0})
    EXPECT_EQ(WAV::writePCM16(std::vector<float>(4), bad, dir / "bad.wav").error().kind, WAVError::Kind::unsupported);
  EXPECT_EQ(WAV::writePCM16(std::vector<float>(4), 48000, dir / "missing" / "x.wav").error().kind,
            WAVError::Kind::file);

  const auto error = WAV::info(dir / "absent.wav").error();
  EXPECT_EQ(error.kind, WAVError::Kind::file);
  EXPECT_NE(error.description().find("absent.wav"), std::string::npos);
  EXPECT_EQ(WAV::read(dir / "absent.wav").error().kind, WAVError::Kind::file);
}

TEST(WAV, EveryAcceptedEncodingDecodesToFullScaleFractionsPastAnOddSizedChunk) {
  Bytes pcm24;
  for (uint32_t v : {0x400000u, 0xC00000u}) put(pcm24, v, 3);  // +0.5, -0.5
  Bytes pcm32;
  for (uint32_t v : {0x40000000u, 0xC0000000u}) put(pcm32, v, 4);
  Bytes float32;
  for (float f : {0.5f, -0.5f}) put(float32, std::bit_cast<uint32_t>(f), 4);
  const std::vector<std::pair<Bytes, Bytes>> files = {
      {formatBody(1, 1, 8000, 24), pcm24},
      {formatBody(1, 1, 8000, 32), pcm32},
      {formatBody(3, 1, 8000, 32), float32},
      {extensibleBody(3, 1, 8000, 32), float32},
      {extensibleBody(1, 1, 8000, 24), pcm24},
  };
  for (const auto& [format, data] : files) {
    const auto audio = WAV::parse(riff({chunk("fmt ", format), chunk("data", data)}));
    ASSERT_TRUE(audio) << audio.error().description();
    EXPECT_EQ(audio->samples, (std::vector<float>{0.5f, -0.5f}));
  }
  const auto listed = WAV::parse(riff({chunk("LIST", Bytes{'a', 'b', 'c'}), chunk("fmt ", formatBody(1, 1, 16000, 16)),
                                       chunk("data", samples16({16384, -16384}))}));
  ASSERT_TRUE(listed) << listed.error().description();
  EXPECT_EQ(listed->samples, (std::vector<float>{0.5f, -0.5f}));
  EXPECT_EQ(listed->sampleRate, 16000.0);
}

TEST(WAV, ChannelsAreAveragedPartialFramesIgnoredAndMalformedFilesGiveTheirErrors) {
  Bytes data = samples16({16384, 0, -32768, -16384});
  data.push_back(0x12);  // a stray byte of a third frame
  const auto wav = riff({chunk("fmt ", formatBody(1, 2, 48000, 16)), chunk("data", data)});
  const auto audio = WAV::parse(wav);
  ASSERT_TRUE(audio);
  EXPECT_EQ(audio->samples, (std::vector<float>{0.25f, -0.75f}));
  EXPECT_EQ(WAV::parseInfo(wav)->frames, 2);

  // A data chunk that declares more than the file holds: the frames present.
  Bytes truncated = riff({chunk("fmt ", formatBody(1, 1, 48000, 16))});
  for (char c : std::string("data")) truncated.push_back(static_cast<uint8_t>(c));
  put(truncated, 1000, 4);
  const Bytes present = samples16({100, 200, 300});
  truncated.insert(truncated.end(), present.begin(), present.end());
  truncated.push_back(0x7F);
  const auto partial = WAV::parse(truncated);
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->samples.size(), 3u);
  EXPECT_EQ(WAV::parseInfo(truncated)->frames, 500);  // as declared

  const auto error = [](const Bytes& file) { return WAV::parse(file).error().description(); };
  const auto withData = [](const Bytes& format) { return riff({chunk("fmt ", format), chunk("data", Bytes{1, 2})}); };
  EXPECT_EQ(error(Bytes{'R', 'I', 'F', 'F'}), "not a RIFF/WAVE file");
  EXPECT_EQ(WAV::parseInfo(riff({chunk("data", samples16({1}))})).error().description(), "WAV file has no fmt  chunk");
  EXPECT_EQ(error(riff({chunk("fmt ", formatBody(1, 1, 8000, 16))})), "WAV file has no data chunk");
  EXPECT_EQ(error(withData(formatBody(1, 1, 8000, 8))), "unsupported WAV: format tag 1, 8 bits");
  EXPECT_EQ(error(withData(formatBody(2, 1, 8000, 16))), "unsupported WAV: format tag 2, 16 bits");
  EXPECT_EQ(error(withData(formatBody(1, 1, 0, 16))), "unsupported WAV: channels=1 rate=0");
}

}  // namespace
}  // namespace oskel
