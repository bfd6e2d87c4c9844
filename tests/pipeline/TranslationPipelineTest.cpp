#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "dsp/PCM16.h"
#include "log/Log.h"
#include "pipeline/PipelineHarness.h"

namespace oskel::test {
namespace {

using Events = std::vector<PipelineEvent>;

template <class Case>
size_t countOf(const Events& events) {
  return static_cast<size_t>(
      std::count_if(events.begin(), events.end(), [](const auto& e) { return std::holds_alternative<Case>(e); }));
}

size_t firstNonSilent(const std::vector<float>& samples, size_t from = 0) {
  for (size_t i = from; i < samples.size(); ++i)
    if (std::abs(samples[i]) > 1e-4f) return i;
  return samples.size();
}

// A process-wide setting changed for a scope, restored after.
template <auto get, auto set>
class Scoped {
 public:
  explicit Scoped(decltype(get()) value) : previous_(get()) { set(value); }
  ~Scoped() { set(previous_); }

 private:
  decltype(get()) previous_;
};
using VerboseLog = Scoped<Log::verbose, Log::setVerbose>;
// The scripted server never answers; the session's watchdog would reconnect
// after 8 s of that while audio is sent.
using ServerSilenceAllowed = Scoped<TranslationSession::stallTimeout, TranslationSession::setStallTimeout>;

// MARK: Sending

// Speech without translation rotates to a fresh session; its return is logged.
TEST(TranslationPipelineSending, SpeechGoesOutInWholeChunksAndWithoutTranslationRotatesToAFreshSession) {
  PipelineHarness h;
  h.start();
  auto connection = h.live();
  const auto speech = tone(1.0, 48000.0);
  for (int second = 0; second < 9; ++second) {
    h.serverDelta("session.input_transcript.delta", "words ");
    h.tick(50, speech);
  }
  h.tick(5, speech);
  EXPECT_TRUE(
      h.log.contains("[en→es] speech going in for 8s (still being transcribed) but no translated speech "
                     "back for 8s — rotating to a fresh session"));
  ASSERT_EQ(h.client->count(), 2u);  // the replacement is being opened
  EXPECT_TRUE(h.log.contains("connecting (no translated speech for 8s while speech was captured) -> es"));

  const auto chunks = PipelineHarness::appended(*connection);
  ASSERT_GE(chunks.size(), 90u);
  std::vector<float> sent;
  for (const auto& chunk : chunks) {
    EXPECT_GE(chunk.size(), 2400u);
    EXPECT_LT(chunk.size(), 2 * 2400u);
    sent.insert(sent.end(), chunk.begin(), chunk.end());
  }
  EXPECT_EQ(static_cast<int64_t>(sent.size()), h.pipeline->framesSent());
  // 24 kHz of the same tone: the level survives resampling and the codec.
  EXPECT_NEAR(rmsOf(sent, 2400), 0.5f / std::sqrt(2.0f), 0.01f);
  EXPECT_NEAR(h.pipeline->speechSeconds(), 9.1, 0.021);
  EXPECT_EQ(h.pipeline->framesGated(), 0);
  // Without a voice-over gain nothing of the voice is played.
  EXPECT_FALSE(h.pipeline->voiceOverGain());
  EXPECT_EQ(firstNonSilent(h.played()), h.played().size());

  h.advance(2.0);
  h.serverDelta("session.output_transcript.delta", "palabras");
  EXPECT_TRUE(h.log.contains("[en→es] translation resumed after a "));
}

// The output tap sees every final block, and nothing once removed. Without a
// silence gate, quiet audio keeps flowing.
TEST(TranslationPipelineSending, ANormalisedInputIsRaisedBeforeSendingButTheVoiceOverKeepsTheOriginal) {
  ServerSilenceAllowed quietServer{1e6};
  PipelineHarness h(
      {.voiceOverGainDB = 0.0, .voiceOverDuckDB = std::nullopt, .normalizeInput = true, .silenceGate = false});
  auto seen = std::make_shared<std::vector<float>>();
  seen->reserve(150 * 960);
  h.pipeline->setOutputTap([seen](std::span<const float> block) {
    if (seen->size() + block.size() <= seen->capacity()) seen->insert(seen->end(), block.begin(), block.end());
  });
  h.start();
  auto connection = h.live();
  const auto quiet = tone(1.0, 48000.0, 440.0, 0.02f);  // about -37 dBFS
  h.tick(150, quiet);
  EXPECT_EQ(*seen, h.played());
  h.pipeline->setOutputTap({});
  h.tick(5, quiet);
  EXPECT_EQ(seen->size(), 150u * 960u);

  const auto chunks = PipelineHarness::appended(*connection);
  ASSERT_FALSE(chunks.empty());
  // Boosted towards -20 dBFS, at most 18 dB.
  EXPECT_GT(PCM16::dBFS(chunks.back()), -25.0f);
  EXPECT_LT(PCM16::dBFS(chunks.back()), -19.0f + 0.5f);
  // The voice-over plays the captured level unchanged (0 dB, no translation).
  const auto& played = h.played();
  EXPECT_NEAR(PCM16::dBFS(std::vector<float>(played.end() - 4800, played.end())), PCM16::dBFS(quiet), 0.5f);

  h.tick(1500);
  EXPECT_EQ(h.pipeline->framesGated(), 0);
  EXPECT_GE(connection->appendedAudio().size(), 315u);
  ASSERT_TRUE(h.stop());
  EXPECT_FALSE(h.log.contains("silence gate held back"));
}

// MARK: Silence gate

TEST(TranslationPipelineGate, ThirtySecondsOfQuietCloseTheGateAndSpeechSendsTheHeldChunkFirst) {
  VerboseLog verbose{true};
  ServerSilenceAllowed quietServer{1e6};
  PipelineHarness h;
  h.start();
  auto connection = h.live();
  const std::vector<float> hiss(960, 0.001f);  // -60 dBFS: below the gate's -50
  h.tick(1499, hiss);                          // the first block is at 0.02 s: 29.98 s of quiet
  EXPECT_FALSE(h.log.contains("silence gate closed"));
  h.tick(2, hiss);
  EXPECT_TRUE(h.log.contains("DEBUG [en→es] silence gate closed after 30s of quiet; not sending audio"));
  const size_t beforeClose = connection->appendedAudio().size();

  h.tick(105, hiss);  // 2.1 s more: nothing goes out, the held chunk is replaced
  EXPECT_EQ(connection->appendedAudio().size(), beforeClose);
  EXPECT_GE(h.pipeline->framesGated(), 2 * 24000);
  EXPECT_TRUE(h.log.contains(", silence gate closed"));  // the level line says so too

  const auto speech = tone(0.1, 48000.0);
  const int64_t gatedBefore = h.pipeline->framesGated();
  h.tick(5, speech);
  const auto chunks = PipelineHarness::appended(*connection);
  ASSERT_EQ(chunks.size(), beforeClose + 2);
  // The held quiet chunk first, then the one with the speech onset.
  EXPECT_LT(PCM16::dBFS(chunks[beforeClose]), -55.0f);
  EXPECT_GT(PCM16::dBFS(chunks[beforeClose + 1]), -20.0f);
  EXPECT_EQ(h.pipeline->framesGated(), gatedBefore - static_cast<int64_t>(chunks[beforeClose].size()));
  EXPECT_TRUE(h.log.contains("DEBUG [en→es] silence gate opened; sending audio again"));

  ASSERT_TRUE(h.stop());
  EXPECT_TRUE(h.log.contains("[en→es] stopped: sent "));
  EXPECT_TRUE(h.log.contains("s of audio, silence gate held back 2.1s of audio (1 closure)"));
}

// MARK: Receiving

TEST(TranslationPipelineReceiving, TranslationPlaysOnlyOnce120MillisecondsAreBufferedOrOnAFlushAndNearSilenceNever) {
  PipelineHarness h;
  h.start();
  h.live();
  // Near-silent deltas are counted but never buffered or played.
  h.serverAudio(std::vector<float>(4800, 0.0f));
  h.serverAudio(tone(0.2, 24000.0, 300.0, 0.0003f));  // about -73 dBFS
  h.tick(10);
  EXPECT_EQ(h.pipeline->translationBuffered(), 0);
  EXPECT_EQ(firstNonSilent(h.played()), h.played().size());

  h.serverAudio(tone(0.1, 24000.0, 300.0));  // 100 ms: below the 120 ms prefill
  h.tick(3);
  EXPECT_EQ(firstNonSilent(h.played()), h.played().size());
  EXPECT_NEAR(static_cast<double>(h.pipeline->translationBuffered()), 4800.0, 100.0);

  h.serverAudio(tone(0.1, 24000.0, 300.0));
  const size_t before = h.played().size();
  h.tick(12);
  // Plays from the first render (the resampler's filter delay aside).
  EXPECT_LT(firstNonSilent(h.played(), before), before + 100);
  // About 200 ms at 48 kHz, then an underrun: silence.
  const auto& played = h.played();
  size_t last = played.size();
  while (last > before && std::abs(played[last - 1]) <= 1e-4f) --last;
  EXPECT_NEAR(static_cast<double>(last - before), 9600.0, 200.0);

  // After the underrun a short burst waits for the prefill once more, forever
  // for a last fragment, unless flushed.
  h.serverAudio(tone(0.05, 24000.0, 300.0));
  h.tick(5);
  EXPECT_EQ(firstNonSilent(h.played(), last), h.played().size());
  h.pipeline->flushTranslation();
  const size_t flushed = h.played().size();
  h.tick(10);
  EXPECT_EQ(h.pipeline->translationBuffered(), 0);
  last = played.size();
  while (last > flushed && std::abs(played[last - 1]) <= 1e-4f) --last;
  EXPECT_LT(firstNonSilent(played, flushed), flushed + 100);
  EXPECT_NEAR(static_cast<double>(last - flushed), 2400.0, 200.0);  // all 50 ms, at 48 kHz
  EXPECT_EQ(h.pipeline->framesReceived(), 9600 + 6000);
  EXPECT_DOUBLE_EQ(h.pipeline->translatedSeconds(), 0.25);

  // Flushing an empty playout adds nothing that plays.
  h.pipeline->flushTranslation();
  const size_t after = h.played().size();
  h.tick(10);
  EXPECT_EQ(firstNonSilent(h.played(), after), h.played().size());
}

TEST(TranslationPipelineReceiving, TranscriptsAndConnectionEventsArriveInOrderAndTranscriptsOnTheConsole) {
  PipelineHarness h;
  h.start();
  auto first = h.live();
  h.serverDelta("session.input_transcript.delta", "Hello ");
  h.serverDelta("session.input_transcript.delta", "there");
  h.serverDelta("session.output_transcript.delta", "Hola ");
  h.serverDelta("session.output_transcript.delta", "ahí");
  h.serverSends(R"({"type":"error","error":{"message":"rate limited"}})");
  first->fail("connection reset");
  h.clock->settle();

  namespace E = PipelineEvents;
  EXPECT_EQ(h.events(),
            (Events{E::Connected{}, E::Ready{}, E::Transcript{TranscriptKind::heard, "Hello "},
                    E::Transcript{TranscriptKind::heard, "there"}, E::Transcript{TranscriptKind::said, "Hola "},
                    E::Transcript{TranscriptKind::said, "ahí"}, E::Error{"rate limited"},
                    E::Disconnected{"connection reset"}}));
  EXPECT_TRUE(h.log.contains("ERROR [en→es] rate limited"));
  EXPECT_TRUE(h.log.contains("WARN  [en→es] disconnected: connection reset"));
  // The stop ends the open line.
  ASSERT_TRUE(h.stop());
  EXPECT_EQ(h.consoleText(), "[en→es heard] Hello there\n[en→es said] Hola ahí\n");
}

// MARK: Passthrough

// Starting in passthrough opens no connection and announces nothing; entering
// twice announces twice but stops the session once; a signed-out session
// routes capture to playback without announcing passthrough.
TEST(TranslationPipelinePassthrough, ResumingStartsAFreshSessionAndTranslationPlaysAgainUntilSignedOut) {
  PipelineHarness h;
  h.start(true);
  EXPECT_EQ(h.client->count(), 0u);
  EXPECT_TRUE(h.pipeline->isPassthrough());
  h.tick(20, tone(0.4, 48000.0, 440.0, 0.4f));
  EXPECT_GT(rmsOf(h.played(), h.played().size() - 4800), 0.2f);
  h.pipeline->resumeTranslation();
  h.clock->settle();
  EXPECT_FALSE(h.pipeline->isPassthrough());
  EXPECT_TRUE(h.log.contains("[en→es] resuming translation"));
  auto connection = h.live();

  h.pipeline->enterPassthrough();
  h.pipeline->enterPassthrough();
  h.clock->settle();
  EXPECT_EQ(countOf<PipelineEvents::Passthrough>(h.events()), 2u);
  EXPECT_EQ(h.log.count("passthrough — capture routed to playback"), 2u);  // at the start, then once
  EXPECT_EQ(std::ranges::count(connection->sentTypes(), "session.close"), 1);
  h.tick(5, tone(0.1, 48000.0));
  h.pipeline->resumeTranslation();
  h.clock->settle();
  ASSERT_EQ(h.client->count(), 2u);
  auto fresh = h.live();

  h.tick(10, tone(0.2, 48000.0));
  EXPECT_FALSE(fresh->appendedAudio().empty());
  h.serverAudio(tone(0.3, 24000.0, 300.0));
  const size_t before = h.played().size();
  h.tick(5);
  EXPECT_GT(rmsOf(h.played(), before), 0.1f);

  fresh->fail("token rejected", TranslationSession::unauthorizedCode);
  h.clock->settle();
  EXPECT_EQ(countOf<PipelineEvents::SignedOut>(h.events()), 1u);
  EXPECT_EQ(countOf<PipelineEvents::Passthrough>(h.events()), 2u);
  EXPECT_TRUE(h.pipeline->isPassthrough());
  EXPECT_EQ(h.log.count("passthrough — capture routed to playback"), 3u);
  // Translated audio still arriving is not played; the microphone is.
  h.serverAudio(tone(0.5, 24000.0, 300.0, 0.9f));
  const auto voice = tone(1.0, 48000.0, 440.0, 0.3f);
  h.tick(50, voice);
  EXPECT_NEAR(rmsOf(h.played(), h.played().size() - 24000), 0.3f / std::sqrt(2.0f), 0.02f);
  const size_t sent = fresh->appendedAudio().size();
  h.tick(10, voice);
  EXPECT_EQ(fresh->appendedAudio().size(), sent);
}

// MARK: Voice-over

// The duck is held 250 ms after the last translated sample, then released.
// The start line names both ends; a level line follows every 2 s while verbose.
TEST(TranslationPipelineVoiceOver, TheOriginalPlaysAtItsLevelAndIsDuckedWhileTranslationPlaysAndAQuarterSecondMore) {
  VerboseLog verbose{true};
  PipelineHarness h({.voiceOverGainDB = -12.0, .voiceOverDuckDB = -24.0});
  h.start();
  EXPECT_TRUE(
      h.log.contains("INFO  [en→es] Test Microphone (48000 Hz) -> es -> Test Speaker (48000 Hz), voice-over: "
                     "original at -12 dB, ducked to -24 dB while translating"));
  h.live();
  const auto voice = tone(1.0, 48000.0, 440.0, 0.5f);
  const float voiceRMS = 0.5f / std::sqrt(2.0f);
  h.tick(25, voice);  // 0.5 s
  const auto& played = h.played();
  EXPECT_NEAR(rmsOf(played, played.size() - 4800) / voiceRMS, 0.251f, 0.01f);

  // A faint translation (about -60 dBFS) that plays for 0.3 s ducks the voice.
  h.serverAudio(tone(0.3, 24000.0, 3000.0, 0.0014f));
  h.tick(10, voice);
  EXPECT_NEAR(rmsOf(played, played.size() - 4800) / voiceRMS, 0.063f, 0.006f);
  EXPECT_NEAR(*h.pipeline->voiceOverGain(), 0.063f, 0.002f);
  h.tick(80, voice);
  // The level in 10 ms windows.
  const size_t window = 480;
  std::vector<float> levels;
  for (size_t at = 0; at + window <= played.size(); at += window) levels.push_back(rmsOf(played, at, window));
  const auto isDucked = [&](float level) { return level / voiceRMS < 0.08f; };
  const auto ducked = std::ranges::count_if(levels, isDucked);
  const auto lastDucked =
      static_cast<size_t>(levels.rend() - std::find_if(levels.rbegin(), levels.rend(), isDucked) - 1);
  // 0.3 s of translation plus 0.25 s of hold, in 10 ms windows.
  EXPECT_NEAR(static_cast<double>(ducked), 55.0, 4.0);
  ASSERT_LT(lastDucked + 100, levels.size());
  // Released with a 300 ms time constant.
  EXPECT_NEAR(levels[lastDucked + 30] / voiceRMS, 0.063f + 0.188f * 0.63f, 0.03f);
  EXPECT_NEAR(levels[lastDucked + 100] / voiceRMS, 0.251f, 0.015f);

  h.pipeline->setVoiceOverLevels(-6.0, std::nullopt);
  h.tick(100, voice);
  EXPECT_NEAR(rmsOf(played, played.size() - 4800) / voiceRMS, 0.501f, 0.02f);
  EXPECT_EQ(h.log.count("] input -9 dBFS, translation buffer "), 3u);  // 4.3 s
  EXPECT_EQ(h.log.count("] input -9 dBFS, translation buffer 0.00s, voice-over gain -12 dB"), 2u);
  EXPECT_EQ(h.log.count("] input -9 dBFS, translation buffer 0.00s, voice-over gain -6 dB"), 1u);
}

// MARK: Rates

// Cycles per second of a tone, from the median distance between its rising
// zero crossings (an occasional glitch does not move it; a wrong rate does).
double frequencyOf(const std::vector<float>& samples, size_t from, double rate) {
  std::vector<size_t> periods;
  size_t previous = 0;
  for (size_t i = from + 1; i < samples.size(); ++i) {
    if (samples[i - 1] >= 0.0f || samples[i] < 0.0f) continue;
    if (previous != 0) periods.push_back(i - previous);
    previous = i;
  }
  if (periods.empty()) return 0.0;
  std::nth_element(periods.begin(), periods.begin() + static_cast<std::ptrdiff_t>(periods.size() / 2), periods.end());
  return rate / static_cast<double>(periods[periods.size() / 2]);
}

// A resampler fed the wrong way round shifts the pitch by 9 % and runs the
// speaker dry or over: the voice must come out at its own pitch and level.
TEST(TranslationPipelineRates, VoiceOverAndPassthroughKeepPitchAndLevelAtUnequalRates) {
  for (const auto& [input, output] : {std::pair{44100.0, 48000.0}, {48000.0, 44100.0}}) {
    SCOPED_TRACE(input);
    PipelineHarness h({.inputRate = input, .outputRate = output, .voiceOverGainDB = -6.0});
    h.start();
    h.live();
    const auto voice = tone(1.0, input, 440.0, 0.5f);
    const float voiceRMS = 0.5f / std::sqrt(2.0f);
    const auto lastHalfSecond = [&] { return h.played().size() - static_cast<size_t>(output / 2); };
    h.tick(50, voice);
    EXPECT_NEAR(frequencyOf(h.played(), lastHalfSecond(), output), 440.0, 10.0);
    EXPECT_NEAR(rmsOf(h.played(), lastHalfSecond()) / voiceRMS, 0.501f, 0.03f);

    h.pipeline->enterPassthrough();
    h.clock->settle();
    h.tick(50, voice);
    EXPECT_NEAR(frequencyOf(h.played(), lastHalfSecond(), output), 440.0, 10.0);
    EXPECT_NEAR(rmsOf(h.played(), lastHalfSecond()) / voiceRMS, 1.0f, 0.06f);
  }
}

// MARK: Lifecycle

TEST(TranslationPipelineLifecycle, StopDrainsTheSessionBeforePlaybackStopsAndThenStaysStoppedEvenAfterAStartError) {
  PipelineHarness never;  // a pipeline never started stops at once
  bool stopped = false;
  never.pipeline->stop(4.0, [&] { stopped = true; });
  EXPECT_TRUE(stopped);
  EXPECT_EQ(never.client->count(), 0u);

  PipelineHarness h;
  h.start();
  auto connection = h.live();
  h.tick(10, tone(0.2, 48000.0));
  auto done = std::make_shared<std::atomic<bool>>(false);
  h.pipeline->stop(4.0, [done] { done->store(true); });
  h.clock->settle();
  EXPECT_EQ(h.host->runningStreams(h.microphone), 0u);
  EXPECT_EQ(h.host->runningStreams(h.speaker), 1u);  // still playing the drain
  EXPECT_FALSE(done->load());

  h.serverAudio(tone(0.3, 24000.0, 300.0));  // the last translation arrives
  h.serverClosed();
  EXPECT_TRUE(done->load());
  EXPECT_EQ(h.host->runningStreams(h.speaker), 0u);
  EXPECT_TRUE(h.log.contains("[en→es] stopped: sent 0.2s, received 0.3s of audio"));

  // A stopped pipeline is not restarted.
  EXPECT_TRUE(h.pipeline->start().has_value());
  EXPECT_FALSE(h.pipeline->isRunning());
  EXPECT_EQ(h.client->count(), 1u);

  // An endpoint start error is returned, and stop still shuts down.
  PipelineHarness failing;
  failing.host->failNextStart(SimulatedAudioHost::badDevice);
  const auto started = failing.pipeline->start();
  ASSERT_FALSE(started.has_value());
  EXPECT_TRUE(std::holds_alternative<AudioIOError::CoreAudio>(started.error().value));
  EXPECT_TRUE(failing.pipeline->isRunning());
  EXPECT_TRUE(failing.stop());
  EXPECT_EQ(failing.host->runningStreams(failing.speaker), 0u);
}

// MARK: Input meter

TEST(TranslationPipelineMeter, ALoudInputReadsNearItsLevelAndSilenceFallsToTheFloorEvenInPassthrough) {
  PipelineHarness h;
  EXPECT_FALSE(h.pipeline->inputLevelDB());
  h.start();
  h.tick(10, tone(1.0, 48000.0));  // RMS 0.5/√2: -9 dBFS
  ASSERT_TRUE(h.pipeline->inputLevelDB());
  EXPECT_NEAR(*h.pipeline->inputLevelDB(), -9.03f, 0.1f);
  h.pipeline->enterPassthrough();
  h.tick(5);  // 0.1 s of silence: the reading falls by the release, not at once
  EXPECT_NEAR(*h.pipeline->inputLevelDB(), -13.0f, 1.0f);
  h.tick(150);
  EXPECT_EQ(h.pipeline->inputLevelDB(), TranslationPipeline::inputLevelFloorDB);
  EXPECT_TRUE(h.stop());
  EXPECT_FALSE(h.pipeline->inputLevelDB());
}

}  // namespace
}  // namespace oskel::test
