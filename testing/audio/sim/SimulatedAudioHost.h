#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/AudioHost.h"
#include "audio/EchoCancelHost.h"
#include "audio/FourCC.h"
#include "audio/ListenerRegistry.h"
#include "audio/LoopbackHost.h"

namespace oskel {

// An in-process audio host for tests. Devices, their formats and rates, the
// defaults and disappearance are scripted; the IO clock only moves when the
// test calls step(), which runs one IO cycle of every running stream on the
// calling thread. Listeners are called on the thread that made the change.
// Its echo canceller is the identity: it records the microphone and plays on
// the speaker themselves, and goes away with either of them.
class SimulatedAudioHost final : public AudioHost, public LoopbackHost, public EchoCancelHost {
 public:
  // Status codes the simulated calls fail with.
  static constexpr AudioHostStatus badDevice = static_cast<AudioHostStatus>(fourCC("!dev"));
  // What output buffers hold before a stream's handler fills them, so that a
  // handler that leaves a buffer untouched is caught.
  static constexpr float staleSample = -7.0f;

  struct Device {
    std::optional<std::string> name = "Simulated Device";
    std::optional<std::string> uid;
    std::optional<std::string> manufacturer;
    std::optional<uint32_t> transportType;
    std::optional<double> nominalSampleRate = 48000.0;
    std::vector<uint32_t> inputStreams;   // channels of each input stream
    std::vector<uint32_t> outputStreams;  // channels of each output stream
    // Overrides of the first stream's format (otherwise float32 at the nominal rate).
    std::optional<AudioStreamFormat> inputFormat;
    std::optional<AudioStreamFormat> outputFormat;
    // What is played on the first output stream comes back on the first input stream.
    bool loopback = false;
    // Settable input volume per channel; empty: none.
    std::vector<float> inputVolume;
  };

  static std::shared_ptr<SimulatedAudioHost> make();
  ~SimulatedAudioHost() override;

  // Scripting. Each change notifies the listeners before it returns.
  AudioDeviceID add(Device device);
  void remove(AudioDeviceID id);
  void setNominalRate(AudioDeviceID id, double rate);
  void setDefault(AudioScope scope, std::optional<AudioDeviceID> id);
  void failNextOpen(AudioHostStatus status);
  void failNextStart(AudioHostStatus status);
  // The next `count` canceller loads fail with this text.
  void failCancellerLoads(std::string message, int count = 1);
  // Cancellers loaded and not unloaded, and loads ever made.
  size_t loadedCancellers() const;
  size_t cancellerLoads() const;

  // Interleaved frames of the first input stream; silence once they run out.
  void feedInput(AudioDeviceID id, std::span<const float> interleaved);
  // One IO cycle of `frames` frames at each device's current rate: playback
  // streams first, then capture streams. Allocation-free for cycles up to
  // 32768 frames.
  void step(uint32_t frames);
  // The device's output buffer `index` of the last cycle (interleaved, the
  // sum of its running playback streams); empty before any cycle.
  std::vector<float> lastOutput(AudioDeviceID id, size_t index = 0) const;
  // Streams opened and not destroyed, and those of them running.
  size_t openStreams(AudioDeviceID id) const;
  size_t runningStreams(AudioDeviceID id) const;

  // AudioHost
  std::vector<AudioHostDevice> devices() override;
  std::optional<AudioHostDevice> device(AudioDeviceID id) override;
  std::optional<AudioDeviceID> defaultDevice(AudioScope scope) override;
  std::optional<AudioStreamFormat> streamFormat(AudioDeviceID id, AudioScope scope) override;
  std::optional<double> nominalSampleRate(AudioDeviceID id, AudioScope scope) override;
  std::unique_ptr<AudioHostListener> listen(AudioHostProperty property, AudioDeviceID id,
                                            Listener listener) override;
  std::expected<std::unique_ptr<AudioHostStream>, AudioHostStatus> openStream(AudioDeviceID id,
                                                                              AudioScope scope,
                                                                              IOHandler handler) override;

  // LoopbackHost: a 2-channel 48 kHz loopback device with a virtual transport.
  std::expected<bool, AudioHostError> installLoopbackDevice(const LoopbackDeviceSpec& spec) override;
  std::expected<bool, AudioHostError> removeLoopbackDevice(std::string_view uid) override;

  // EchoCancelHost
  std::expected<EchoCanceller, AudioHostError> loadEchoCanceller(const AudioDeviceInfo& microphone,
                                                                 const AudioDeviceInfo& speaker) override;
  std::expected<void, AudioHostError> unloadEchoCanceller(const EchoCanceller& canceller) override;
  int unloadStaleEchoCancellers() override { return 0; }
  std::vector<float> inputVolume(AudioDeviceID id) override;
  AudioHostStatus setInputVolume(AudioDeviceID id, std::span<const float> volume) override;

  struct State;
  class Stream;

 private:
  SimulatedAudioHost();

  std::shared_ptr<State> state_;
  std::shared_ptr<ListenerRegistry> listeners_;
};

}  // namespace oskel
