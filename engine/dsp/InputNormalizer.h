#pragma once

#include <vector>

namespace oskel {

// Raises quiet captured speech towards a target level before it is sent for
// translation. It only boosts (never below unity), up to a ceiling, and
// freezes its gain while the input is at or below a noise floor so room noise
// is not pumped up. Gain falls fast (0.05 s) and rises with the response's
// time constant. Used on the encoder thread only.
class InputNormalizer {
 public:
  // Time constants: `call` smooths over 0.3 s and rises over 0.5 s (speech
  // from a call); `room` reacts in 0.1 s (a microphone in a room).
  enum class Response { call, room };

  InputNormalizer(float targetDBFS, float maxGainDB, float noiseFloorDBFS, double blockSeconds, Response response);

  // Measures the block, updates envelope and gain, and returns the block with
  // the gain applied (clamped to +-1), or unchanged within 0.001 of unity.
  std::vector<float> process(std::vector<float> block);

  float targetDBFS() const { return targetDBFS_; }
  float maxGainDB() const { return maxGainDB_; }
  float noiseFloorDBFS() const { return noiseFloorDBFS_; }
  float currentGain() const { return currentGain_; }
  float envelope() const { return envelope_; }

 private:
  float targetDBFS_;
  float maxGainDB_;
  float noiseFloorDBFS_;
  float currentGain_ = 1.0f;
  float envelope_ = 0.0f;  // 0: nothing measured yet
  // Per-block smoothing fractions, from the block length and time constants.
  float envelopeStep_;
  float riseStep_;
  float fallStep_;
  float targetLinear_;
  float maxGainLinear_;
};

}  // namespace oskel
