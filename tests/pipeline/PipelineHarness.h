#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "audio/AudioCapture.h"
#include "audio/AudioPlayback.h"
#include "audio/sim/SimulatedAudioHost.h"
#include "concurrency/ManualClock.h"
#include "pipeline/TranscriptConsole.h"
#include "pipeline/TranslationPipeline.h"
#include "session/FakeWebSocket.h"
#include "support/LogCapture.h"

namespace oskel::test {

// One pipeline between a simulated microphone and speaker, talking to a
// scripted WebSocket, on a manual clock. tick() is one 20 ms period of the
// world: the speaker renders, the microphone delivers, then time moves and
// the encoder and the session catch up. Nothing waits on real time.
class PipelineHarness {
 public:
  struct Options {
    double inputRate = 48000.0;
    double outputRate = 48000.0;
    std::optional<double> voiceOverGainDB = std::nullopt;
    std::optional<double> voiceOverDuckDB = -18.0;
    bool normalizeInput = false;
    bool silenceGate = true;
  };

  PipelineHarness() : PipelineHarness(Options{}) {}
  explicit PipelineHarness(Options options);
  ~PipelineHarness();

  // The pipeline's side.
  void start(bool passthrough = false);
  // Stops and settles; true when the completion ran.
  bool stop(double sessionTimeout = 0.3);
  std::vector<PipelineEvent> events() const;

  // The world. `input` is what the microphone hears during the ticks (at the
  // input rate, repeated or cut to length); without it, digital silence.
  void tick(int count = 1, const std::vector<float>& input = {});
  void advance(double seconds) { clock->advanceSeconds(seconds); }
  // Everything the speaker played so far, mono.
  const std::vector<float>& played() const { return played_; }

  // The service's side, on the newest connection.
  std::shared_ptr<FakeConnection> connection() const { return client->last(); }
  // "session.created" and "session.updated": the session goes live.
  std::shared_ptr<FakeConnection> live();
  void serverAudio(const std::vector<float>& samples24k);
  // A message of `type` whose "delta" is `text`.
  void serverDelta(const std::string& type, const std::string& text);
  void serverClosed() { serverSends(R"({"type":"session.closed"})"); }
  void serverSends(const std::string& message);
  // Decoded samples of every append sent on a connection, one entry per message.
  static std::vector<std::vector<float>> appended(const FakeConnection& connection);

  // Lines the transcript console wrote.
  std::string consoleText() const;

  LogCapture log;
  Options options;
  std::shared_ptr<ManualClock> clock = std::make_shared<ManualClock>();
  std::shared_ptr<FakeWebSocketClient> client = std::make_shared<FakeWebSocketClient>();
  std::shared_ptr<SimulatedAudioHost> host = SimulatedAudioHost::make();
  AudioDeviceID microphone = 0;
  AudioDeviceID speaker = 0;
  std::shared_ptr<TranslationPipeline> pipeline;

 private:
  struct Shared {
    mutable std::mutex mutex;
    std::vector<PipelineEvent> events;
    std::string console;
  };
  std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
  std::unique_ptr<TranscriptConsole> console_;
  std::vector<float> played_;
  int64_t inputPosition_ = 0;
};

// A sine of `seconds` at `rate` with peak `amplitude`.
std::vector<float> tone(double seconds, double rate, double frequency = 440.0, float amplitude = 0.5f);
float rmsOf(const std::vector<float>& samples, size_t from = 0, size_t count = SIZE_MAX);

}  // namespace oskel::test
