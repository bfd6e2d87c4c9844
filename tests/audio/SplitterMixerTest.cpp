#include <numeric>
#include <vector>

#include <gtest/gtest.h>

#include "SimDevices.h"
#include "audio/AudioCapture.h"
#include "audio/AudioDevices.h"
#include "audio/AudioPlayback.h"
#include "audio/MicrophoneSplitter.h"
#include "audio/SpeakerMixer.h"

using namespace oskel;
using test::simDevice;

namespace {

// A mono microphone and speaker on the simulated host; each step() is one
// 480-frame IO cycle at 48 kHz.
class SplitterMixer : public ::testing::Test {
 protected:
  SplitterMixer() {
    mic = host->add(simDevice("Mic", "M", 1, 0));
    speaker = host->add(simDevice("Speaker", "S", 0, 1));
    splitter = MicrophoneSplitter::make(std::move(*AudioCapture::make(host, *AudioDevices::info(*host, mic))));
    mixer = SpeakerMixer::make(std::move(*AudioPlayback::make(host, *AudioDevices::info(*host, speaker))));
    for (int i = 0; i < 2; ++i) {
      got[i].reserve(1 << 20);
      splitter->tap(i)->setOnFrames([this, i](std::span<const float> frames) {
        got[i].insert(got[i].end(), frames.begin(), frames.end());
        ++runs[i];
      });
    }
  }

  // Feeds the microphone a ramp so that every sample is recognisable.
  void cycles(int count) {
    for (int c = 0; c < count; ++c) {
      std::vector<float> run(480);
      std::iota(run.begin(), run.end(), static_cast<float>(next));
      next += 480;
      host->feedInput(mic, run);
      host->step(480);
    }
  }

  std::shared_ptr<SimulatedAudioHost> host = SimulatedAudioHost::make();
  AudioDeviceID mic = 0;
  AudioDeviceID speaker = 0;
  std::shared_ptr<MicrophoneSplitter> splitter;
  std::shared_ptr<SpeakerMixer> mixer;
  std::vector<float> got[2];
  int runs[2] = {0, 0};
  int64_t next = 1;
};

bool allZero(const std::vector<float>& samples, size_t from) {
  return std::all_of(samples.begin() + static_cast<std::ptrdiff_t>(from), samples.end(),
                     [](float s) { return s == 0.0f; });
}

}  // namespace

TEST_F(SplitterMixer, ATurnSwitchIsSampleExactAndGivesTheOldTapOnePointFiveSecondsOfSilence) {
  ASSERT_TRUE(splitter->tap(0)->start());
  ASSERT_TRUE(splitter->tap(1)->start());
  cycles(10);
  splitter->setActiveIndex(1);
  cycles(200);

  // Every microphone sample reached exactly one tap, in order: tap 0 before
  // the switch, tap 1 from the next run on.
  ASSERT_EQ(std::ssize(got[1]), 200 * 480);
  std::vector<float> joined(got[0].begin(), got[0].begin() + 4800);
  joined.insert(joined.end(), got[1].begin(), got[1].end());
  for (size_t i = 0; i < joined.size(); ++i) ASSERT_EQ(joined[i], static_cast<float>(i + 1)) << i;
  // Then 150 runs of 480 zeros (72000 frames) to the old tap, and no more.
  EXPECT_EQ(runs[0], 10 + 150);
  EXPECT_EQ(std::ssize(got[0]), 4800 + 72000);
  EXPECT_TRUE(allZero(got[0], 4800));
}

TEST_F(SplitterMixer, OnlyTheMostRecentPreviousTapGetsTheTailAndTheSameTurnStartsNone) {
  ASSERT_TRUE(splitter->tap(0)->start());
  splitter->setActiveIndex(0);  // already the turn: no tail
  cycles(2);
  EXPECT_EQ(runs[1], 0);

  splitter->setActiveIndex(1);
  cycles(10);
  splitter->setActiveIndex(0);  // back before tap 0's tail ran out
  const auto tapOneReal = got[1].size();
  cycles(200);
  // Tap 0 hears the microphone again and no zeros are owed to it any more;
  // tap 1 gets a full fresh tail.
  EXPECT_EQ(std::ssize(got[1]) - static_cast<std::ptrdiff_t>(tapOneReal), 72000);
  EXPECT_TRUE(allZero(got[1], tapOneReal));
  EXPECT_EQ(got[0].back(), static_cast<float>(next - 1));
}

TEST_F(SplitterMixer, RealEndpointsRunWhileAnyTapOrSourceRunsAndStopsAreIdempotent) {
  ASSERT_TRUE(splitter->tap(0)->start());
  ASSERT_TRUE(splitter->tap(1)->start());
  ASSERT_TRUE(mixer->source(1)->start());
  EXPECT_EQ(host->runningStreams(mic), 1u);
  EXPECT_EQ(host->runningStreams(speaker), 1u);
  splitter->tap(0)->stop();
  splitter->tap(0)->stop();  // a second stop must not take tap 1's share
  EXPECT_EQ(host->runningStreams(mic), 1u);
  splitter->tap(1)->stop();
  EXPECT_EQ(host->runningStreams(mic), 0u);
  mixer->source(1)->stop();
  EXPECT_EQ(host->runningStreams(speaker), 0u);
}

TEST_F(SplitterMixer, TheSpeakerPlaysTheSumOfBothSourcesAndClampsAndCountsBeyondFullScale) {
  float first = 0.0f;
  float second = 0.25f;
  mixer->source(1)->setRender([&](std::span<float> frames) { std::ranges::fill(frames, second); });
  ASSERT_TRUE(mixer->source(1)->start());
  host->step(480);
  EXPECT_EQ(host->lastOutput(speaker), std::vector<float>(480, 0.25f));  // source 1 alone

  mixer->source(0)->setRender([&](std::span<float> frames) { std::ranges::fill(frames, first); });
  first = 0.5f;
  host->step(480);
  EXPECT_EQ(host->lastOutput(speaker), std::vector<float>(480, 0.75f));
  EXPECT_EQ(mixer->clippedSamples(), 0);

  first = 0.9f;
  second = -0.3f;  // a negative partner keeps the sum in range
  host->step(480);
  EXPECT_FLOAT_EQ(host->lastOutput(speaker)[0], 0.6f);
  second = 0.9f;
  host->step(480);
  EXPECT_EQ(host->lastOutput(speaker), std::vector<float>(480, 1.0f));
  EXPECT_EQ(mixer->clippedSamples(), 480);
}
