#pragma once

#include <expected>
#include <functional>
#include <span>
#include <string>

#include "audio/AudioIOError.h"

namespace oskel {

// A source of mono 32-bit float frames at a rate fixed for its whole life.
// The callback is set before start() and runs on a real-time thread.
class AudioInputEndpoint {
 public:
  using FramesCallback = std::function<void(std::span<const float> frames)>;

  virtual ~AudioInputEndpoint() = default;
  virtual std::string name() const = 0;
  virtual double sampleRate() const = 0;
  // Empty: delivered frames are dropped.
  virtual void setOnFrames(FramesCallback callback) = 0;
  virtual std::expected<void, AudioIOError> start() = 0;
  // Idempotent.
  virtual void stop() = 0;
};

// A sink that pulls mono 32-bit float frames at a fixed rate. The render
// callback must fill the whole view; it runs on a real-time thread.
class AudioOutputEndpoint {
 public:
  using RenderCallback = std::function<void(std::span<float> frames)>;

  virtual ~AudioOutputEndpoint() = default;
  virtual std::string name() const = 0;
  virtual double sampleRate() const = 0;
  // Empty: silence is played.
  virtual void setRender(RenderCallback callback) = 0;
  virtual std::expected<void, AudioIOError> start() = 0;
  // Idempotent.
  virtual void stop() = 0;
};

}  // namespace oskel
