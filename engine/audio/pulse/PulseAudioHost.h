#pragma once

#include <expected>
#include <memory>
#include <string>

#include "audio/AudioHost.h"
#include "audio/AudioHostError.h"
#include "audio/EchoCancelHost.h"
#include "audio/LoopbackHost.h"

namespace oskel {

namespace Pulse {
class Core;
}

// The audio host on a PulseAudio server, or PipeWire's pipewire-pulse,
// through the PulseAudio client library and its threaded main loop.
//
// Streams always carry interleaved float samples at the device's own rate and
// channel map; the server converts from the device's sample format. Their IO
// handlers run on the main loop's thread. Change listeners run on a
// notification thread of the host, never on the main loop's thread. The
// server resamples a stream whose device changes rate, so the nominal rate
// cannot be watched (listen() returns null for it).
class PulseAudioHost final : public AudioHost, public LoopbackHost, public EchoCancelHost {
 public:
  struct Options {
    std::string applicationName = "Oskel";
    // Empty: the server the client library finds (PULSE_SERVER, then the
    // user's session socket, then the system-wide one).
    std::string server;
    // Buffering asked of the server: the playback target and the capture
    // fragment; 0 leaves the server's defaults, which add hundreds of
    // milliseconds.
    double playbackBufferMs = 20;
    double captureFragmentMs = 10;
  };

  static std::expected<std::shared_ptr<PulseAudioHost>, AudioHostError> connect(Options options);
  static std::expected<std::shared_ptr<PulseAudioHost>, AudioHostError> connect();
  ~PulseAudioHost() override;

  // "<server name> <version> at <address>", for diagnostics.
  std::string serverDescription();
  // False once the server has gone away (stopped or restarted); the host
  // does not reconnect, its owner connects a new one.
  bool connected();

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

  // LoopbackHost: a null sink named with the UID plus a source remapped over
  // its monitor, both described with the device's name.
  std::expected<bool, AudioHostError> installLoopbackDevice(const LoopbackDeviceSpec& spec) override;
  std::expected<bool, AudioHostError> removeLoopbackDevice(std::string_view uid) override;

  // EchoCancelHost: module-echo-cancel between the microphone's source and
  // the speaker's sink, with arguments for the server at hand.
  std::expected<EchoCanceller, AudioHostError> loadEchoCanceller(const AudioDeviceInfo& microphone,
                                                                 const AudioDeviceInfo& speaker) override;
  std::expected<void, AudioHostError> unloadEchoCanceller(const EchoCanceller& canceller) override;
  int unloadStaleEchoCancellers() override;
  std::vector<float> inputVolume(AudioDeviceID id) override;
  AudioHostStatus setInputVolume(AudioDeviceID id, std::span<const float> volume) override;

  explicit PulseAudioHost(std::shared_ptr<Pulse::Core> core);

 private:
  std::shared_ptr<Pulse::Core> core_;
};

}  // namespace oskel
