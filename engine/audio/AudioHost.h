#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "audio/AudioStreamFormat.h"

namespace oskel {

using AudioDeviceID = uint32_t;

enum class AudioScope { input, output };

// What a host knows about one device, before the catalogue applies its
// defaults. A fact the host cannot read is absent.
struct AudioHostDevice {
  AudioDeviceID id = 0;
  std::optional<std::string> name;
  std::optional<std::string> uid;
  std::optional<std::string> manufacturer;
  int inputChannels = 0;
  int outputChannels = 0;
  std::optional<double> nominalSampleRate;
  std::optional<uint32_t> transportType;
};

// One buffer of one IO cycle: interleaved frames of numberChannels samples.
struct AudioBuffer {
  uint32_t numberChannels = 0;
  uint32_t dataByteSize = 0;
  void* data = nullptr;
};

// Host facts that can change under a running program.
enum class AudioHostProperty { devices, defaultInput, defaultOutput, nominalSampleRate };

// Status codes of host calls: 0 is success, anything else is the host's own
// error number.
using AudioHostStatus = int32_t;

// A registered change listener; destroying it unregisters, after which the
// callback is never called again (unless it is running on this very thread).
class AudioHostListener {
 public:
  virtual ~AudioHostListener() = default;
};

// An IO procedure on one device stream. The handler runs on the host's IO
// thread once per cycle with that cycle's buffers: filled for input, to be
// filled for output. Destroying the stream stops it first.
class AudioHostStream {
 public:
  virtual ~AudioHostStream() = default;
  virtual AudioHostStatus start() = 0;
  virtual void stop() = 0;
};

// The narrow view of an audio server that the device catalogue and the
// endpoints use. Every query reads the host afresh.
class AudioHost {
 public:
  using Listener = std::function<void()>;
  using IOHandler = std::function<void(std::span<AudioBuffer> buffers)>;

  virtual ~AudioHost() = default;

  // Every device, in the host's order.
  virtual std::vector<AudioHostDevice> devices() = 0;
  // One device, absent when the id is unknown (or the device is gone).
  virtual std::optional<AudioHostDevice> device(AudioDeviceID id) = 0;
  virtual std::optional<AudioDeviceID> defaultDevice(AudioScope scope) = 0;
  // The format of the device's first stream in a scope, absent without one.
  virtual std::optional<AudioStreamFormat> streamFormat(AudioDeviceID id, AudioScope scope) = 0;
  // The rate the device's streams in a scope run at. One rate for both
  // scopes on most hosts; a duplex device made of two server nodes may have two.
  virtual std::optional<double> nominalSampleRate(AudioDeviceID id, AudioScope scope) = 0;

  // Calls the listener when the property changes; the device id matters only
  // for nominalSampleRate. Null when the host cannot watch that property.
  virtual std::unique_ptr<AudioHostListener> listen(AudioHostProperty property, AudioDeviceID id,
                                                    Listener listener) = 0;

  virtual std::expected<std::unique_ptr<AudioHostStream>, AudioHostStatus> openStream(
      AudioDeviceID id, AudioScope scope, IOHandler handler) = 0;
};

}  // namespace oskel
