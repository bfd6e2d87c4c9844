// `oskel translate` as a user runs it without a key: the local emulator, a
// recording in real time, captions on standard output, the output file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "TranslateCommand.h"
#include "network/NetworkProbe.h"
#include "recording/WAV.h"

namespace oskel::test {
namespace {

std::filesystem::path temp(const std::string& name) {
  return std::filesystem::path(::testing::TempDir()) / ("oskel-translate-" + name);
}

class TranslateCommand : public ::testing::Test {
 protected:
  // No credential: the command must fall back to the local emulator.
  ScopedEnvironment noKey{"OPENAI_API_KEY", ""};
  ScopedEnvironment noToken{"OSKEL_TOKEN", ""};
  ScopedEnvironment origin{"OSKEL_OPENAI_API", ""};
  std::ostringstream out;
  std::ostringstream err;
};

TEST_F(TranslateCommand, TranslatesARecordingWithTheLocalEmulatorIntoAMatchingFile) {
  // The first second of the bundled recording.
  auto speech = WAV::read(std::string(OSKEL_SOURCE_DIR) + "/assets/speech-en.wav");
  ASSERT_TRUE(speech);
  speech->samples.resize(static_cast<size_t>(speech->sampleRate));
  const auto input = temp("in.wav");
  const auto output = temp("out.wav");
  const auto recording = temp("recording.wav");
  ASSERT_TRUE(WAV::writePCM16(speech->samples, speech->sampleRate, input));

  TranslateOptions options;
  options.input = input.string();
  options.output = output.string();
  options.pipeline.language = "es";
  options.pipeline.from = "en";
  options.pipeline.record = recording.string();
  EXPECT_EQ(runTranslateCommand(options, out, err), 0) << err.str();

  const std::string text = out.str();
  EXPECT_TRUE(text.starts_with("Neither OPENAI_API_KEY nor OSKEL_TOKEN is set: using the local service emulator at "))
      << text;
  EXPECT_NE(text.find("Wrote " + output.string()), std::string::npos) << text;
  EXPECT_NE(text.find("Recorded "), std::string::npos) << text;

  // The emulator plays the speech back: the file holds the same audio,
  // later by the chunk and the prefill.
  const auto written = WAV::read(output);
  ASSERT_TRUE(written) << written.error().description();
  EXPECT_EQ(written->sampleRate, speech->sampleRate);
  const auto energy = [](const std::vector<float>& samples) {
    double sum = 0;
    for (float s : samples) sum += static_cast<double>(s) * static_cast<double>(s);
    return sum;
  };
  EXPECT_NEAR(energy(written->samples) / energy(speech->samples), 1.0, 0.05);
  // Never before the 120 ms prefill (the chunk adds 0 to 100 ms, by where the
  // onset falls in it: measured 120 ms once); the upper bound, loose for a
  // loaded machine in real time, catches a pipeline that holds audio back.
  const auto onset = [](const std::vector<float>& samples) {
    return std::ranges::find_if(samples, [](float s) { return std::abs(s) > 0.01f; }) - samples.begin();
  };
  const double lag = static_cast<double>(onset(written->samples) - onset(speech->samples)) / speech->sampleRate;
  EXPECT_GE(lag, 0.1);
  EXPECT_LE(lag, 2.0);
  const auto recorded = WAV::info(recording);
  ASSERT_TRUE(recorded);
  EXPECT_EQ(recorded->channels, 2);
  EXPECT_NEAR(static_cast<double>(recorded->frames) / recorded->sampleRate, written->duration(), 0.2);
  for (const auto& path : {input, output, recording}) std::filesystem::remove(path);
}

TEST_F(TranslateCommand, RefusesALanguageTheServiceDoesNotSpeakAndFilesItCannotReadOrWrite) {
  TranslateOptions options;
  options.input = temp("missing.wav").string();
  options.pipeline.language = "xx";
  EXPECT_EQ(runTranslateCommand(options, out, err), 2);
  EXPECT_TRUE(err.str().starts_with("oskel translate: the service does not translate into \"xx\"; choose one of "))
      << err.str();
  EXPECT_NE(err.str().find("es"), std::string::npos);

  options.pipeline.language = "es";
  EXPECT_EQ(runTranslateCommand(options, out, err), 1);
  EXPECT_NE(err.str().find("oskel translate: cannot read "), std::string::npos) << err.str();

  const auto input = temp("short.wav");
  ASSERT_TRUE(WAV::writePCM16(std::vector<float>(2400, 0.0f), 24000.0, input));
  options.input = input.string();
  options.output = (temp("no-such-folder") / "out.wav").string();
  EXPECT_EQ(runTranslateCommand(options, out, err), 1);
  EXPECT_NE(err.str().find("oskel translate: cannot write "), std::string::npos) << err.str();
  std::filesystem::remove(input);
}

}  // namespace
}  // namespace oskel::test
