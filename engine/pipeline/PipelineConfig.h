#pragma once

#include <memory>
#include <optional>
#include <string>

#include "audio/AudioEndpoint.h"
#include "concurrency/Clock.h"
#include "dsp/InputNormalizer.h"
#include "service/TranslationCredential.h"
#include "service/TranslationOptions.h"
#include "service/TranslationSession.h"

namespace oskel {

class TranscriptConsole;

// How one translation pipeline is built: where speech comes from and goes to,
// how the service is reached, and the tuning of the direction.
struct PipelineConfig {
  // Prefix of every log line and the transcript console's pipeline name ("en→es").
  std::string label;
  std::shared_ptr<AudioInputEndpoint> input;
  std::shared_ptr<AudioOutputEndpoint> output;
  // Passed to every session; transcribeInput also makes the stall watch
  // wait for input transcripts.
  TranslationOptions options;
  TranslationCredential credential;
  double chunkSeconds = 0.1;                    // audio per message to the service
  std::optional<double> voiceOverGainDB;        // absent: no voice-over
  std::optional<double> voiceOverDuckDB = -18.0;  // absent: no ducking
  bool normalizeInput = false;
  InputNormalizer::Response normalizerResponse = InputNormalizer::Response::call;
  bool silenceGate = true;

  // Collaborators, replaced in tests and tools. The clock paces the encoder
  // and stamps the gate, the stall watch and the level lines.
  std::shared_ptr<Clock> clock = Clock::system();
  // Absent: the shipped network stack.
  std::optional<TranslationSession::Environment> sessionEnvironment;
  // Null: the process-wide console.
  TranscriptConsole* console = nullptr;

  PipelineConfig(std::string name, std::shared_ptr<AudioInputEndpoint> source,
                 std::shared_ptr<AudioOutputEndpoint> sink, TranslationOptions serviceOptions,
                 TranslationCredential serviceCredential)
      : label(std::move(name)),
        input(std::move(source)),
        output(std::move(sink)),
        options(std::move(serviceOptions)),
        credential(std::move(serviceCredential)) {}
  // A direct connection with the user's own service API key.
  PipelineConfig(std::string name, std::shared_ptr<AudioInputEndpoint> source,
                 std::shared_ptr<AudioOutputEndpoint> sink, TranslationOptions serviceOptions, std::string apiKey)
      : PipelineConfig(std::move(name), std::move(source), std::move(sink), std::move(serviceOptions),
                       TranslationCredential::openai(std::move(apiKey))) {}
};

}  // namespace oskel
