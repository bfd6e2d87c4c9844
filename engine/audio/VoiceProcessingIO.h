#pragma once

#include <chrono>
#include <cstdint>
#include <expected>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "audio/AudioDeviceInfo.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioHost.h"
#include "audio/EchoCancelHost.h"
#include "concurrency/Clock.h"
#include "concurrency/SerialQueue.h"
#include "concurrency/Timer.h"
#include "dsp/LinearResampler.h"

namespace oskel {

// A microphone and a speaker driven together through the audio server's echo
// canceller, so that what the speaker plays is removed from what the
// microphone records. Presents one input and one output endpoint at 48000 Hz
// mono whatever the devices run at, and keeps the session going across
// device changes: a burst of changes leads to one reconnection 0.3 s after its
// last event, a vanished device is retried after 1 to 5 s, and when the
// canceller cannot be brought back the session goes on with plain capture and
// playback on the same devices.
//
// The canceller takes its microphone explicitly: the user's default input is
// never changed. Its gain control stays off; the microphone's input volume
// is still saved before it loads and put back at close.
//
// The endpoints keep their owner alive; close() must be called to end the
// session, after which the owner lets go of them.
class VoiceProcessingIO : public std::enable_shared_from_this<VoiceProcessingIO> {
 public:
  static constexpr double sampleRate = 48000.0;
  static constexpr int64_t bufferCapacity = 65536;
  static constexpr int64_t maxCaptureFrames = 16384;
  static constexpr int64_t pullFrames = 480;  // 10 ms at 48000 Hz
  static constexpr auto configurationDelay = std::chrono::milliseconds(300);
  static constexpr int maxReconnectAttempts = 5;

  struct Failure {
    struct Format {
      std::string message;
      bool operator==(const Format&) const = default;
    };
    // The server would not load the canceller between the two devices.
    struct Canceller {
      std::string message;
      bool operator==(const Canceller&) const = default;
    };
    std::variant<Format, Canceller> value;

    static Failure format(std::string message) { return {Format{std::move(message)}}; }
    std::string description() const;
    bool operator==(const Failure&) const = default;
  };

  struct Options {
    std::shared_ptr<Clock> clock = Clock::system();
    // Between failed attempts to start the streams.
    Clock::Duration startRetryPause = std::chrono::milliseconds(120);
  };

  class Input;
  class Output;

  static std::expected<std::shared_ptr<VoiceProcessingIO>, Failure> make(std::shared_ptr<AudioHost> host,
                                                                        std::shared_ptr<EchoCancelHost> canceller,
                                                                        AudioDeviceInfo microphone,
                                                                        AudioDeviceInfo speaker, Options options);
  ~VoiceProcessingIO();
  VoiceProcessingIO(const VoiceProcessingIO&) = delete;
  VoiceProcessingIO& operator=(const VoiceProcessingIO&) = delete;

  // Ends the session: streams stopped, canceller unloaded, input volume
  // restored, retries cancelled. Idempotent.
  void close();

  std::shared_ptr<Input> input() const;
  std::shared_ptr<Output> output() const;
  const AudioDeviceInfo& inputDevice() const { return inputDevice_; }
  const AudioDeviceInfo& outputDevice() const { return outputDevice_; }
  // False once the session fell back to plain capture and playback.
  bool echoCancellationOn() const;
  // The canceller in use, if any.
  std::optional<EchoCanceller> canceller() const;

 private:
  struct Format {
    double rate = 0;
    uint32_t channels = 0;
  };
  struct Route {  // the devices the streams run on
    AudioDeviceID capture = 0;
    AudioDeviceID playback = 0;
    std::string captureName;
    std::string playbackName;
  };

  VoiceProcessingIO(std::shared_ptr<AudioHost> host, std::shared_ptr<EchoCancelHost> canceller,
                    AudioDeviceInfo microphone, AudioDeviceInfo speaker, Options options);
  std::expected<void, Failure> construct();

  // Engine work, on the queue.
  template <class Work>
  auto onQueue(Work&& work) const;
  std::expected<void, AudioIOError> startEndpoint();
  void stopEndpoint();
  std::expected<void, AudioIOError> startEngine(int retries);
  std::expected<void, AudioIOError> openStreams();
  void stopEngine();
  std::expected<void, std::string> connectGraph(const Route& route);
  std::expected<Route, std::string> loadCanceller(const AudioDeviceInfo& mic, const AudioDeviceInfo& speaker);
  void unloadCanceller();
  void applyConfigurationChange();
  std::expected<void, std::string> reconnect(const AudioDeviceInfo& mic, const AudioDeviceInfo& speaker,
                                             bool withCanceller, int retries);
  void retryConfigurationChange();

  // Device changes, on the host's notification thread.
  void deviceListChanged();
  void scheduleConfigurationChange();
  std::string watchedState();
  std::optional<AudioDeviceInfo> current(const AudioDeviceInfo& device, AudioScope scope);
  std::optional<Format> formatOf(AudioDeviceID id, AudioScope scope);

  std::map<uint32_t, float> readInputVolume(AudioDeviceID id);
  void restoreInputVolume(std::vector<std::string>& notes);

  // Real-time paths.
  void deliverInput(std::span<AudioBuffer> buffers);
  void renderOutput(std::span<AudioBuffer> buffers);

  std::shared_ptr<AudioHost> host_;
  std::shared_ptr<EchoCancelHost> cancelHost_;
  AudioDeviceInfo inputDevice_;
  AudioDeviceInfo outputDevice_;
  Options options_;
  std::shared_ptr<Input> input_;
  std::shared_ptr<Output> output_;
  std::unique_ptr<SerialQueue> engineQueue_;

  // Queue state (construction, then the queue only).
  std::optional<EchoCanceller> canceller_;
  bool echoOn_ = true;
  Route route_;
  std::unique_ptr<AudioHostStream> captureStream_;
  std::unique_ptr<AudioHostStream> playbackStream_;
  int activeEndpoints_ = 0;
  int reconnectAttempts_ = 0;
  std::map<uint32_t, float> savedInputVolume_;
  std::unique_ptr<AudioHostListener> observer_;

  mutable std::mutex stateMutex_;  // guards closed_, configWork_, lastWatched_
  bool closed_ = false;
  Timer configWork_;
  std::string lastWatched_;

  // Real-time state: replaced only while the streams are stopped.
  LinearResampler inputResampler_{sampleRate, sampleRate};
  LinearResampler outputResampler_{sampleRate, sampleRate};
  std::unique_ptr<float[]> downmix_;
  std::unique_ptr<float[]> converted_;
  std::unique_ptr<float[]> pullBuffer_;
  std::unique_ptr<float[]> pending_;
  int64_t pendingCount_ = 0;
};

class VoiceProcessingIO::Input final : public AudioInputEndpoint {
 public:
  explicit Input(std::shared_ptr<VoiceProcessingIO> owner);
  std::string name() const override { return name_; }
  double sampleRate() const override { return VoiceProcessingIO::sampleRate; }
  void setOnFrames(FramesCallback callback) override { onFrames_ = std::move(callback); }
  std::expected<void, AudioIOError> start() override;
  void stop() override;

 private:
  friend class VoiceProcessingIO;
  std::string name_;
  FramesCallback onFrames_;
  std::shared_ptr<VoiceProcessingIO> owner_;
  bool started_ = false;
};

class VoiceProcessingIO::Output final : public AudioOutputEndpoint {
 public:
  explicit Output(std::shared_ptr<VoiceProcessingIO> owner);
  std::string name() const override { return name_; }
  double sampleRate() const override { return VoiceProcessingIO::sampleRate; }
  void setRender(RenderCallback callback) override { render_ = std::move(callback); }
  std::expected<void, AudioIOError> start() override;
  void stop() override;

 private:
  friend class VoiceProcessingIO;
  std::string name_;
  RenderCallback render_;
  std::shared_ptr<VoiceProcessingIO> owner_;
  bool started_ = false;
};

}  // namespace oskel
