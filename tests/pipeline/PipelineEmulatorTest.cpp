// One direction end to end: simulated microphone and speaker, the pipeline,
// the real WebSocket client and the service emulator on loopback. The
// pipeline's encoder and the session's timers run on a manual clock; only
// the network answers in real time, and each tick waits (bounded) until the
// emulator's echo of everything sent so far has come back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "dsp/Resampler.h"
#include "emulator/ServiceEmulator.h"
#include "network/NetworkProbe.h"
#include "pipeline/PipelineHarness.h"
#include "recording/WAV.h"

namespace oskel::test {
namespace {


std::vector<float> speechAt48k() {
  auto speech = WAV::read(std::string(OSKEL_SOURCE_DIR) + "/assets/speech-en.wav");
  EXPECT_TRUE(speech.has_value());
  if (!speech) return {};
  Resampler up(speech->sampleRate, 48000.0);
  auto samples = up.process(speech->samples);
  const auto delay = static_cast<size_t>(up.delay());
  samples.erase(samples.begin(), samples.begin() + static_cast<std::ptrdiff_t>(std::min(delay, samples.size())));
  return samples;
}

std::vector<float> concat(std::initializer_list<std::vector<float>> parts) {
  std::vector<float> all;
  for (const auto& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Normalised correlation of b delayed by `lag` against a, over a's [from, from + count).
double correlation(const std::vector<float>& a, const std::vector<float>& b, size_t from, size_t count, size_t lag) {
  double ab = 0, aa = 0, bb = 0;
  for (size_t i = from; i < from + count && i + lag < b.size() && i < a.size(); ++i) {
    const auto x = static_cast<double>(a[i]);
    const auto y = static_cast<double>(b[i + lag]);
    ab += x * y;
    aa += x * x;
    bb += y * y;
  }
  return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0.0;
}

size_t firstAbove(const std::vector<float>& samples, float threshold, size_t from = 0) {
  for (size_t i = from; i < samples.size(); ++i)
    if (std::abs(samples[i]) > threshold) return i;
  return samples.size();
}

// Where speech resumes after at least 100 ms below -40 dBFS.
std::vector<size_t> stretches(const std::vector<float>& samples) {
  std::vector<size_t> starts;
  size_t quiet = 4800;
  for (size_t i = 0; i < samples.size(); ++i) {
    if (std::abs(samples[i]) < 0.01f) {
      ++quiet;
      continue;
    }
    if (quiet >= 4800) starts.push_back(i);
    quiet = 0;
  }
  return starts;
}

class PipelineWithEmulator : public ::testing::Test {
 protected:
  void SetUp() override {
    auto started = emulator::ServiceEmulator::start();
    ASSERT_TRUE(started) << started.error();
    service = std::move(*started);
    apiOrigin.emplace("OSKEL_OPENAI_API", service->httpOrigin());
    relayOrigin.emplace("OSKEL_API", service->httpOrigin());
  }

  PipelineHarness::Options liveOptions(TranslationCredential credential) {
    PipelineHarness::Options options;
    options.credential = std::move(credential);
    options.environment = TranslationSession::Environment::live();
    return options;
  }

  // Starts and waits for the session to be ready.
  void startLive(PipelineHarness& h) {
    h.start();
    ASSERT_TRUE(PipelineHarness::waitFor([&] {
      const auto events = h.events();
      return std::find(events.begin(), events.end(), PipelineEvent(PipelineEvents::Ready{})) != events.end();
    })) << "the session never became ready";
  }

  // `count` periods of `input`, each one waiting until every chunk sent so
  // far has been echoed.
  static void tickEchoed(PipelineHarness& h, int count, const std::vector<float>& input) {
    for (int i = 0; i < count; ++i) {
      h.tick(1, input);
      ASSERT_TRUE(PipelineHarness::waitFor(
          [&] { return h.pipeline->framesReceived() >= h.pipeline->framesSent(); }))
          << "sent " << h.pipeline->framesSent() << ", echoed " << h.pipeline->framesReceived();
    }
  }

  static bool stopAndDrain(PipelineHarness& h) {
    auto done = std::make_shared<std::atomic<bool>>(false);
    h.pipeline->stop(4.0, [done] { done->store(true); });
    const bool drained = PipelineHarness::waitFor([&] { return done->load(); });
    h.advance(TranslationPipeline::encoderPeriod);
    return drained;
  }

  std::unique_ptr<emulator::ServiceEmulator> service;
  std::optional<ScopedEnvironment> apiOrigin;
  std::optional<ScopedEnvironment> relayOrigin;
};

TEST_F(PipelineWithEmulator, ASpokenUtteranceComesBackAfterThePrefillWithTranscriptsInOrder) {
  PipelineHarness h(liveOptions(TranslationCredential::openai("sk-test")));
  startLive(h);
  const auto speech = speechAt48k();
  ASSERT_GT(speech.size(), 48000u * 5);
  const auto input = concat({std::vector<float>(9600, 0.0f), speech, std::vector<float>(48000, 0.0f)});
  tickEchoed(h, static_cast<int>(input.size() / 960), input);
  ASSERT_TRUE(stopAndDrain(h));

  // Every chunk reached the service once, and its echo came back.
  const auto snapshot = service->snapshot();
  ASSERT_EQ(snapshot.connections.size(), 1u);
  const auto& connection = snapshot.connections.front();
  EXPECT_EQ(static_cast<int64_t>(connection.audioBytes), 2 * h.pipeline->framesSent());
  EXPECT_EQ(h.pipeline->framesReceived(), h.pipeline->framesSent());
  EXPECT_GE(connection.audioBlocks, static_cast<size_t>(input.size() / 4800 - 1));

  // Transcripts: what was heard, then what was said, for every chunk in turn.
  std::vector<PipelineEvents::Transcript> transcripts;
  for (const auto& event : h.events())
    if (const auto* t = std::get_if<PipelineEvents::Transcript>(&event)) transcripts.push_back(*t);
  ASSERT_EQ(transcripts.size(), 2 * connection.audioBlocks);
  for (size_t i = 0; i < transcripts.size(); i += 2) {
    EXPECT_EQ(transcripts[i].kind, TranscriptKind::heard);
    EXPECT_TRUE(transcripts[i].text.starts_with("[heard 10")) << transcripts[i].text;
    EXPECT_EQ(transcripts[i + 1].kind, TranscriptKind::said);
    EXPECT_TRUE(transcripts[i + 1].text.starts_with("[es] 10")) << transcripts[i + 1].text;
  }
  EXPECT_TRUE(h.consoleText().starts_with("[en→es heard] [heard 100 ms] \n[en→es said] [es] 100 ms of audio \n"));

  // The speech plays back after the chunk and the 120 ms prefill: the
  // second chunk completes it.
  const auto& played = h.played();
  const size_t spoken = firstAbove(input, 0.01f);
  const size_t heard = firstAbove(played, 0.01f);
  ASSERT_LT(heard, played.size());
  const double onsetLag = static_cast<double>(heard - spoken) / 48000.0;
  // Never before a chunk and the prefill; the upper bound only catches a
  // pipeline that holds audio back (the exact latency is benchmarked).
  EXPECT_GE(onsetLag, 0.2);
  EXPECT_LE(onsetLag, 1.0);
  // And it is the same speech: every stretch between pauses matches sample
  // for sample (each pause lets the playout run dry, so each stretch has a
  // lag of its own).
  const auto inputStretches = stretches(input);
  const auto playedStretches = stretches(played);
  ASSERT_EQ(playedStretches.size(), inputStretches.size());
  ASSERT_GE(inputStretches.size(), 3u);
  for (size_t k = 0; k < inputStretches.size(); ++k) {
    const size_t lag = playedStretches[k] - inputStretches[k];
    double best = 0;
    for (size_t l = lag - 240; l < lag + 240; ++l) best = std::max(best, correlation(input, played, inputStretches[k], 14400, l));
    EXPECT_GT(best, 0.97) << "stretch " << k;
  }
  // Nothing was lost or doubled: the loud parts carry the same energy.
  EXPECT_NEAR(rmsOf(played) * std::sqrt(static_cast<float>(played.size())),
              rmsOf(input) * std::sqrt(static_cast<float>(input.size())), 0.05f * rmsOf(input) * std::sqrt(static_cast<float>(input.size())));
}

}  // namespace
}  // namespace oskel::test
