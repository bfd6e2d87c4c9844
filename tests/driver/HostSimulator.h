#pragma once

// A stand-in for the audio server that loads the OskelAudio driver the way the
// real one does — a fresh copy of the module, its exported factory, then the
// driver interface through QueryInterface — and drives it only through that
// function table. It owns the host clock, the global queue the driver sends
// work to, the host callbacks, and the driver's log.

#include <atomic>
#include <cstdint>
#include <algorithm>
#include <expected>
#include <limits>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "compat/OskelAudioCompat.h"
#include "compat/OskelCompatHooks.h"

namespace oskel::driver_test {

inline constexpr AudioObjectID kPlugIn = 1;
inline constexpr AudioObjectID kMicrophone = 2;
inline constexpr AudioObjectID kMicrophoneInput = 3;
inline constexpr AudioObjectID kMicrophoneOutput = 4;
inline constexpr AudioObjectID kSpeaker = 12;
inline constexpr AudioObjectID kSpeakerInput = 13;
inline constexpr AudioObjectID kSpeakerOutput = 14;

inline constexpr AudioObjectPropertyScope kGlobal = kAudioObjectPropertyScopeGlobal;
inline constexpr AudioObjectPropertyScope kInput = kAudioObjectPropertyScopeInput;
inline constexpr AudioObjectPropertyScope kOutput = kAudioObjectPropertyScopeOutput;

struct LogLine {
  uint8_t level;
  std::string subsystem;
  std::string category;
  std::string text;
};

struct ConfigurationRequest {
  AudioObjectID device;
  UInt64 action;
  void* info;
  bool operator==(const ConfigurationRequest&) const = default;
};

struct PropertyChange {
  AudioObjectID object;
  std::vector<AudioObjectPropertyAddress> addresses;
};

struct ZeroTimeStamp {
  OSStatus status;
  Float64 sampleTime;
  UInt64 hostTime;
  UInt64 seed;
};

// Returns the factory of a private copy of the driver module, so each caller
// gets driver globals of its own. Copies stay loaded until the process ends.
using DriverFactory = void* (*)(CFAllocatorRef, CFUUIDRef);
DriverFactory loadFreshDriverModule();

class HostSimulator {
 public:
  // Host clock ticks: timebase numer/denom as mach_timebase_info reports them.
  explicit HostSimulator(uint32_t timebaseNumer = 1, uint32_t timebaseDenom = 1);
  ~HostSimulator();
  HostSimulator(const HostSimulator&) = delete;
  HostSimulator& operator=(const HostSimulator&) = delete;

  AudioServerPlugInDriverRef driver() const { return driver_; }
  const AudioServerPlugInDriverInterface& call() const { return **driver_; }
  AudioServerPlugInHostRef host() const { return &record_.interface; }
  OSStatus initialize() { return call().Initialize(driver_, host()); }

  // Host clock.
  uint64_t hostTime() const { return now_; }
  void advanceTicks(uint64_t ticks) { now_ += ticks; }
  void setHostTime(uint64_t ticks) { now_ = ticks; }
  void advanceSeconds(double seconds);
  // Moves the clock on by a number of frames at a rate, never short of them and without drifting.
  void advanceFrames(uint64_t frames, double sampleRate);

  // Work the driver sent to the global queue, run when the test says so.
  size_t runGlobalQueue();
  // What the driver asked of the host (read them once the driver is quiet).
  std::vector<ConfigurationRequest> configurationRequests;
  std::vector<PropertyChange> propertyChanges;
  // Performs every requested configuration change, as the host does once IO is paused.
  OSStatus performRequestedChanges();

  // The driver's log.
  std::vector<LogLine> log() const;
  size_t countLogged(std::string_view fragment) const;
  bool logged(std::string_view fragment) const { return countLogged(fragment) > 0; }
  void clearLog();

  // Properties.
  bool has(AudioObjectID object, AudioObjectPropertySelector selector, AudioObjectPropertyScope scope = kGlobal) const {
    const AudioObjectPropertyAddress address{selector, scope, kAudioObjectPropertyElementMain};
    return call().HasProperty(driver_, object, 0, &address) != 0;
  }
  OSStatus dataSize(AudioObjectID object, AudioObjectPropertySelector selector, UInt32& size,
                    AudioObjectPropertyScope scope = kGlobal) const {
    const AudioObjectPropertyAddress address{selector, scope, kAudioObjectPropertyElementMain};
    return call().GetPropertyDataSize(driver_, object, 0, &address, 0, nullptr, &size);
  }
  OSStatus settable(AudioObjectID object, AudioObjectPropertySelector selector, Boolean& isSettable,
                    AudioObjectPropertyScope scope = kGlobal) const {
    const AudioObjectPropertyAddress address{selector, scope, kAudioObjectPropertyElementMain};
    return call().IsPropertySettable(driver_, object, 0, &address, &isSettable);
  }
  OSStatus getData(AudioObjectID object, AudioObjectPropertySelector selector, AudioObjectPropertyScope scope,
                   UInt32 capacity, void* data, UInt32& written, UInt32 qualifierSize = 0,
                   const void* qualifier = nullptr) const {
    const AudioObjectPropertyAddress address{selector, scope, kAudioObjectPropertyElementMain};
    return call().GetPropertyData(driver_, object, 0, &address, qualifierSize, qualifier, capacity, &written, data);
  }
  // The value, or the status when it is not 0.
  template <class T>
  std::expected<T, OSStatus> get(AudioObjectID object, AudioObjectPropertySelector selector,
                                 AudioObjectPropertyScope scope = kGlobal) const {
    T data{};
    UInt32 written = 0;
    const OSStatus status = getData(object, selector, scope, sizeof data, &data, written);
    if (status != 0) return std::unexpected(status);
    return data;
  }
  AudioObjectID translateUID(const char* uid) const;
  OSStatus setData(AudioObjectID object, AudioObjectPropertySelector selector, UInt32 size, const void* data,
                   AudioObjectPropertyScope scope = kGlobal) const {
    const AudioObjectPropertyAddress address{selector, scope, kAudioObjectPropertyElementMain};
    return call().SetPropertyData(driver_, object, 0, &address, 0, nullptr, size, data);
  }
  template <class T>
  OSStatus set(AudioObjectID object, AudioObjectPropertySelector selector, const T& value,
               AudioObjectPropertyScope scope = kGlobal) const {
    return setData(object, selector, sizeof value, &value, scope);
  }

  // IO.
  OSStatus startIO(AudioObjectID device, UInt32 client) const { return call().StartIO(driver_, device, client); }
  OSStatus stopIO(AudioObjectID device, UInt32 client) const { return call().StopIO(driver_, device, client); }
  ZeroTimeStamp zeroTimeStamp(AudioObjectID device) const {
    ZeroTimeStamp stamp{};
    stamp.status = call().GetZeroTimeStamp(driver_, device, 0, &stamp.sampleTime, &stamp.hostTime, &stamp.seed);
    return stamp;
  }
  // One WriteMix or ReadInput with the cycle's output or input time at the given sample time;
  // buffers are interleaved stereo.
  OSStatus writeAt(AudioObjectID device, Float64 sampleTime, std::span<const float> frames) const {
    return doIO(device, kAudioServerPlugInIOOperationWriteMix, sampleTime,
                {const_cast<float*>(frames.data()), frames.size()});
  }
  OSStatus readAt(AudioObjectID device, Float64 sampleTime, std::span<float> frames) const {
    return doIO(device, kAudioServerPlugInIOOperationReadInput, sampleTime, frames);
  }
  // What a ReadInput of `count` frames gives; all NaN when it fails, so no check mistakes a failure for silence.
  std::vector<float> readFrames(AudioObjectID device, Float64 sampleTime, size_t count) const {
    std::vector<float> frames(2 * count, std::numeric_limits<float>::quiet_NaN());
    if (readAt(device, sampleTime, frames) != 0) std::ranges::fill(frames, std::numeric_limits<float>::quiet_NaN());
    return frames;
  }

 private:
  struct HostRecord {
    AudioServerPlugInHostInterface interface;
    HostSimulator* owner;
  };
  struct QueuedWork {
    void* context;
    void (*work)(void*);
  };
  static HostRecord makeRecord(HostSimulator* owner);
  double ticksPerSecond() const { return 1e9 * timebaseDenom_ / timebaseNumer_; }
  OSStatus doIO(AudioObjectID device, UInt32 operation, Float64 sampleTime, std::span<float> frames) const;

  AudioServerPlugInDriverRef driver_ = nullptr;
  HostRecord record_;
  uint32_t timebaseNumer_;
  uint32_t timebaseDenom_;
  std::atomic<uint64_t> now_{1'000'000'000};
  double fractionalTicks_ = 0.0;
  mutable std::mutex mutex_;  // the driver calls back from any thread
  std::vector<QueuedWork> queue_;
  std::vector<LogLine> log_;
};

}  // namespace oskel::driver_test
