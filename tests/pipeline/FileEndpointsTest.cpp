#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <vector>

#include "audio/file/WAVFileInput.h"
#include "audio/file/WAVFileOutput.h"
#include "concurrency/ManualClock.h"
#include "dsp/PCM16.h"

namespace oskel::test {
namespace {

std::vector<float> ramp(size_t count) {
  std::vector<float> samples(count);
  for (size_t i = 0; i < count; ++i) samples[i] = static_cast<float>(i % 1000) / 1000.0f - 0.5f;
  return samples;
}

TEST(WAVFileInput, DeliversTheFileInRealTimeThenSilence) {
  auto clock = std::make_shared<ManualClock>();
  const auto samples = ramp(6000);
  WAVFileInput input("speech.wav", WAV::Audio{samples, 24000.0}, {0.01, clock});
  std::mutex mutex;
  std::vector<float> heard;
  heard.reserve(20000);
  input.setOnFrames([&](std::span<const float> frames) {
    std::lock_guard guard(mutex);
    heard.insert(heard.end(), frames.begin(), frames.end());
  });
  EXPECT_DOUBLE_EQ(input.duration(), 0.25);

  ASSERT_TRUE(input.start().has_value());
  clock->advanceSeconds(0.1);
  {
    std::lock_guard guard(mutex);
    ASSERT_EQ(heard.size(), 2400u);
    EXPECT_EQ(heard, std::vector<float>(samples.begin(), samples.begin() + 2400));
  }
  EXPECT_FALSE(input.finished());
  clock->advanceSeconds(0.2);
  EXPECT_TRUE(input.finished());
  EXPECT_DOUBLE_EQ(input.elapsed(), 0.3);
  input.stop();
  clock->advanceSeconds(0.1);
  std::lock_guard guard(mutex);
  ASSERT_EQ(heard.size(), 7200u);
  EXPECT_EQ(std::vector<float>(heard.begin(), heard.begin() + 6000), samples);
  EXPECT_EQ(std::vector<float>(heard.begin() + 6000, heard.end()), std::vector<float>(1200, 0.0f));
}

TEST(WAVFileOutput, WritesWhatItRendersAndCompletesTheHeaderOnStopOrOnlyPacesWithoutAPath) {
  auto clock = std::make_shared<ManualClock>();
  const auto path = std::filesystem::path(::testing::TempDir()) / "oskel-file-endpoints-out.wav";
  auto output = WAVFileOutput::create(path, {24000.0, 0.01, clock});
  ASSERT_TRUE(output.has_value());
  const auto source = ramp(12000);
  size_t position = 0;
  (*output)->setRender([&](std::span<float> frames) {
    for (auto& sample : frames) sample = position < source.size() ? source[position++] : 0.0f;
  });
  ASSERT_TRUE((*output)->start().has_value());
  clock->advanceSeconds(0.5);
  (*output)->stop();
  clock->advanceSeconds(0.1);
  EXPECT_EQ((*output)->framesRendered(), 12000);
  EXPECT_FALSE((*output)->error());

  const auto written = WAV::read(path);
  ASSERT_TRUE(written.has_value()) << written.error().description();
  EXPECT_EQ(written->sampleRate, 24000.0);
  ASSERT_EQ(written->samples.size(), 12000u);
  for (size_t i = 0; i < source.size(); i += 997) EXPECT_NEAR(written->samples[i], source[i], 1.0 / 16384);
  std::filesystem::remove(path);

  // Without a path it only paces.
  auto pacer = WAVFileOutput::create(std::nullopt, {48000.0, 0.01, clock});
  ASSERT_TRUE(pacer.has_value());
  EXPECT_EQ((*pacer)->name(), "(no output)");
  ASSERT_TRUE((*pacer)->start().has_value());
  clock->advanceSeconds(0.25);
  (*pacer)->stop();
  EXPECT_EQ((*pacer)->framesRendered(), 12000);
}

}  // namespace
}  // namespace oskel::test
