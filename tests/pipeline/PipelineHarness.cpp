#include "pipeline/PipelineHarness.h"

#include <gtest/gtest.h>

#include <boost/json.hpp>
#include <cmath>
#include <numbers>

#include "audio/AudioDevices.h"
#include "dsp/PCM16.h"
#include "service/Base64.h"

namespace oskel::test {

namespace {

SimulatedAudioHost::Device monoDevice(std::string name, std::string uid, bool input, double rate) {
  SimulatedAudioHost::Device device;
  device.name = std::move(name);
  device.uid = std::move(uid);
  device.nominalSampleRate = rate;
  (input ? device.inputStreams : device.outputStreams) = {1};
  return device;
}

}  // namespace

PipelineHarness::PipelineHarness(Options opts) : options(std::move(opts)) {
  microphone = host->add(monoDevice("Test Microphone", "mic", true, options.inputRate));
  speaker = host->add(monoDevice("Test Speaker", "speaker", false, options.outputRate));
  std::shared_ptr<AudioCapture> capture = std::move(*AudioCapture::make(host, *AudioDevices::info(*host, microphone)));
  std::shared_ptr<AudioPlayback> playback = std::move(*AudioPlayback::make(host, *AudioDevices::info(*host, speaker)));

  console_ = std::make_unique<TranscriptConsole>([shared = shared_](std::string_view bytes) {
    std::lock_guard guard(shared->mutex);
    shared->console.append(bytes);
  });

  PipelineConfig config("en→es", capture, playback, TranslationOptions("es"),
                        TranslationCredential::oskel("relay-token"));
  config.voiceOverGainDB = options.voiceOverGainDB;
  config.voiceOverDuckDB = options.voiceOverDuckDB;
  config.normalizeInput = options.normalizeInput;
  config.silenceGate = options.silenceGate;
  config.clock = clock;
  config.sessionEnvironment = TranslationSession::Environment{clock, client, nullptr};
  config.console = console_.get();
  pipeline = TranslationPipeline::make(std::move(config));
  pipeline->setOnEvent([shared = shared_](const PipelineEvent& event) {
    std::lock_guard guard(shared->mutex);
    shared->events.push_back(event);
  });
}

PipelineHarness::~PipelineHarness() {
  if (pipeline && pipeline->isRunning()) stop(0.0);
  pipeline.reset();
  clock->settle();
}

void PipelineHarness::start(bool passthrough) {
  ASSERT_TRUE(pipeline->start(passthrough).has_value());
  clock->settle();
}

bool PipelineHarness::stop(double sessionTimeout) {
  auto done = std::make_shared<std::atomic<bool>>(false);
  pipeline->stop(sessionTimeout, [done] { done->store(true); });
  clock->settle();
  if (!done->load()) advance(sessionTimeout);
  // The encoder ends on its next period.
  advance(TranslationPipeline::encoderPeriod);
  return done->load();
}

std::vector<PipelineEvent> PipelineHarness::events() const {
  std::lock_guard guard(shared_->mutex);
  return shared_->events;
}

std::string PipelineHarness::consoleText() const {
  std::lock_guard guard(shared_->mutex);
  return shared_->console;
}

void PipelineHarness::tick(int count, const std::vector<float>& input) {
  const auto frames = static_cast<uint32_t>(std::lround(options.inputRate * TranslationPipeline::encoderPeriod));
  std::vector<float> block(frames, 0.0f);
  for (int i = 0; i < count; ++i) {
    if (!input.empty()) {
      for (auto& sample : block) sample = input[static_cast<size_t>(inputPosition_++) % input.size()];
      host->feedInput(microphone, block);
    }
    host->step(frames);
    const auto out = host->lastOutput(speaker);
    played_.insert(played_.end(), out.begin(), out.end());
    clock->advanceSeconds(TranslationPipeline::encoderPeriod);
  }
}

std::shared_ptr<FakeConnection> PipelineHarness::live() {
  serverSends(R"({"type":"session.created","session":{"id":"sess_1"}})");
  serverSends(R"({"type":"session.updated"})");
  return connection();
}

void PipelineHarness::serverAudio(const std::vector<float>& samples24k) {
  serverDelta("session.output_audio.delta", Base64::encode(PCM16::encode(samples24k)));
}

void PipelineHarness::serverDelta(const std::string& type, const std::string& text) {
  serverSends(boost::json::serialize(boost::json::object{{"type", type}, {"delta", text}}));
}

void PipelineHarness::serverSends(const std::string& message) {
  connection()->receive(message);
  clock->settle();
}

std::vector<std::vector<float>> PipelineHarness::appended(const FakeConnection& connection) {
  std::vector<std::vector<float>> chunks;
  for (const auto& bytes : connection.appendedAudio()) chunks.push_back(PCM16::decode(bytes));
  return chunks;
}

std::vector<float> tone(double seconds, double rate, double frequency, float amplitude) {
  std::vector<float> samples(static_cast<size_t>(seconds * rate));
  for (size_t i = 0; i < samples.size(); ++i)
    samples[i] =
        amplitude * static_cast<float>(std::sin(2.0 * std::numbers::pi * frequency * static_cast<double>(i) / rate));
  return samples;
}

float rmsOf(const std::vector<float>& samples, size_t from, size_t count) {
  if (from >= samples.size()) return 0.0f;
  count = std::min(count, samples.size() - from);
  return PCM16::rms(std::span<const float>(samples.data() + from, count));
}

}  // namespace oskel::test
