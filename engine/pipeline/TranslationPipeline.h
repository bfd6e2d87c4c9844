#pragma once

#include <atomic>
#include <cstdint>
#include <expected>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioIOError.h"
#include "concurrency/SerialQueue.h"
#include "concurrency/Timer.h"
#include "dsp/FloatRingBuffer.h"
#include "dsp/InputNormalizer.h"
#include "dsp/OutputStallWatch.h"
#include "dsp/Resampler.h"
#include "dsp/SilenceGate.h"
#include "dsp/UnfairLock.h"
#include "dsp/WallTime.h"
#include "pipeline/OutputTap.h"
#include "pipeline/PipelineConfig.h"
#include "pipeline/PipelineEvent.h"
#include "pipeline/PipelinePlayout.h"
#include "service/TranslationEvent.h"
#include "service/TranslationSession.h"

namespace oskel {

class TranscriptConsole;

// One direction of live interpretation: captured speech goes to a translation
// session as 24 kHz PCM16 chunks, and the translated speech comes back into a
// playout buffer that the output endpoint's render callback plays, optionally
// over a lowered copy of the original voice (voice-over). Passthrough routes
// the capture straight to the output instead.
//
// Threads: the input endpoint's capture callback only writes the capture
// ring; the encoder queue "oskel.encoder." + label drains it every 20 ms
// (level, silence gate, normaliser, resampling, chunking, stall watch); the
// session's queue delivers translated audio and transcripts; the output
// endpoint's render callback only reads the playout buffers and mixes. No
// lock is held while another is taken, and the two audio callbacks never
// allocate, log or wait on anything but the buffer locks.
class TranslationPipeline : public std::enable_shared_from_this<TranslationPipeline> {
 public:
  using EventHandler = std::function<void(const PipelineEvent&)>;

  static constexpr double serviceRate = 24000.0;
  static constexpr double encoderPeriod = 0.02;
  static constexpr float translatedFloorDB = -70.0f;
  static constexpr int64_t captureCapacity = 480000;
  static constexpr double levelLogInterval = 2.0;
  static constexpr double passthroughStopTimeout = 4.0;
  // The input meter: digital silence, and how fast the reading falls after
  // a loud block (it rises at once).
  static constexpr float inputLevelFloorDB = -120.0f;
  static constexpr double inputLevelReleaseDBPerSecond = 40.0;

  // Level above which a captured block counts as speech. Process-wide;
  // the stall watch takes the value current when its pipeline is built.
  static float speechThresholdDB();
  static void setSpeechThresholdDB(float dBFS);

  // Builds the buffers, gain stages and resamplers, binds the endpoints'
  // callbacks and creates the first session. Starts nothing.
  static std::shared_ptr<TranslationPipeline> make(PipelineConfig config);
  ~TranslationPipeline();
  TranslationPipeline(const TranslationPipeline&) = delete;
  TranslationPipeline& operator=(const TranslationPipeline&) = delete;

  const PipelineConfig& config() const { return config_; }

  // Starts the session (unless in passthrough), the input, the output and the
  // encoder. An endpoint's start error is returned; the pipeline then still
  // counts as running, so stop() performs the whole shutdown. A second call,
  // or a call after stop(), does nothing.
  std::expected<void, AudioIOError> start(bool passthrough = false);
  // Stops capture now, lets the session drain for at most `sessionTimeout`
  // seconds, then stops playback, writes the summary line and calls
  // `completion` on the session's queue (at once when not running). The
  // pipeline keeps itself alive until then.
  void stop(double sessionTimeout, std::function<void()> completion);
  // Routes capture to playback and stops the session; announces it with a
  // `passthrough` event (on every call).
  void enterPassthrough();
  // Leaves passthrough with a fresh session (only while running).
  void resumeTranslation();
  // Observer of every final output block, on the render thread; empty removes it.
  void setOutputTap(OutputTap::Callback callback);
  // New voice-over levels; no effect without voice-over. An absent duck
  // level keeps the voice at the idle level.
  void setVoiceOverLevels(double idleDB, std::optional<double> duckDB);
  // Called on the session's queue.
  void setOnEvent(EventHandler handler);

  double outputSampleRate() const { return outputRate_; }
  double speechSeconds() const;
  double translatedSeconds() const;
  int64_t framesSent() const { return framesSent_.load(std::memory_order_relaxed); }
  int64_t framesReceived() const { return framesReceived_.load(std::memory_order_acquire); }
  int64_t framesGated() const { return framesGated_.load(std::memory_order_relaxed); }
  // The captured input's level in dBFS for a meter, from any thread: the RMS
  // of each 20 ms block before the normaliser, held against the falling
  // release so a meter polled a few times a second misses no syllable.
  // Absent before the encoder's first block and once the pipeline stopped.
  std::optional<float> inputLevelDB() const;

  bool isRunning() const { return running_.load(std::memory_order_acquire); }
  bool isPassthrough() const { return playout_->passthrough.value(); }
  // Samples waiting in the translation playout buffer, and the voice-over
  // gain after the last render (absent without voice-over).
  int64_t translationBuffered() const { return playout_->translation.available(); }
  // For when no more translation will come: pads the playout with silence up
  // to its prefill, so a last fragment shorter than the prefill still plays.
  void flushTranslation();
  std::optional<float> voiceOverGain() const { return playout_->voiceOverGain(); }
  std::shared_ptr<TranslationSession> currentSession() const;

 private:
  struct Token {};

 public:
  TranslationPipeline(Token, PipelineConfig config);  // use make()

 private:
  // Encoder queue.
  void encoderTick();
  void encode(WallTime now);
  template <class Sink>
  void writeAtOutputRate(Sink& sink);
  void meter(float levelDB, size_t frames);
  void sendChunk(bool gateClosed);
  void checkStall(float levelDB, WallTime now);
  void logLevel(float levelDB, WallTime now, bool gateClosed);
  void finishEncoder();

  // Session queues.
  void handle(const TranslationEvent& event);
  void receiveAudio(const std::vector<uint8_t>& pcm16);
  void noteOutput();
  void emit(const PipelineEvent& event);

  std::shared_ptr<TranslationSession> makeSession();
  void swapSession(std::shared_ptr<TranslationSession> fresh);
  void enterPassthrough(bool announce);
  void finishStop(const std::function<void()>& completion);
  WallTime wallNow() const;
  TranscriptConsole& console() const;

  const PipelineConfig config_;
  const std::string prefix_;  // "[" + label; every line goes on with "] ..."
  const double inputRate_;
  const double outputRate_;
  const int64_t chunkFrames_;

  std::atomic<int64_t> framesSent_{0};
  std::atomic<int64_t> framesReceived_{0};
  std::atomic<int64_t> framesGated_{0};
  std::atomic<int64_t> speechFrames_{0};
  std::atomic<int64_t> translatedFrames_{0};
  // Written by the encoder only; NaN while there is no reading.
  std::atomic<float> inputLevelDB_{std::numeric_limits<float>::quiet_NaN()};
  static_assert(std::atomic<float>::is_always_lock_free);

  std::mutex eventLock_;
  EventHandler onEvent_;  // guarded by eventLock_

  // Shared with the endpoints' callbacks, which may outlive the pipeline.
  const std::shared_ptr<FloatRingBuffer> captureRing_;
  const std::shared_ptr<PipelinePlayout> playout_;

  // Encoder queue only.
  Resampler inputResampler_;
  Resampler voiceOverResampler_;
  std::optional<InputNormalizer> normalizer_;
  std::vector<float> block_;  // the captured block of this tick
  std::vector<float> pending_;
  std::optional<std::vector<uint8_t>> held_;
  WallTime lastLevelLog_ = distantPast;
  Timer encoderTimer_;
  std::shared_ptr<TranslationPipeline> encoderHold_;  // the encoder keeps the pipeline while it runs

  // Updated by the encoder; the summary is read when the pipeline stops.
  UnfairLock gateLock_;
  std::optional<SilenceGate> gate_;

  // Translated audio may arrive on two session queues at once (a retired
  // session still draining), so its resampler has a lock of its own.
  std::mutex outputLock_;
  Resampler outputResampler_;

  mutable UnfairLock sessionLock_;
  std::shared_ptr<TranslationSession> session_;  // guarded by sessionLock_

  UnfairLock stallLock_;
  OutputStallWatch stallWatch_;  // guarded by stallLock_

  std::atomic<bool> running_{false};
  std::atomic<bool> stopped_{false};
  std::unique_ptr<SerialQueue> encoder_;  // last: stops before the state it works on goes
};

}  // namespace oskel
