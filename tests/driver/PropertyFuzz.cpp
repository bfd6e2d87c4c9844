// Random calls into the driver's property and IO entry points: random
// objects, selectors, scopes, sizes and buffers. The driver must answer every
// one without crashing and never write past the buffer it was given.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "HostSimulator.h"

using namespace oskel::driver_test;

namespace {

// Reads the fuzz input as a stream of choices; past its end every choice is 0.
class Choices {
 public:
  Choices(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool more() const { return position_ < size_; }
  uint8_t byte() { return position_ < size_ ? data_[position_++] : 0; }
  uint32_t u32() {
    uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value = (value << 8) | byte();
    return value;
  }
  template <class T, size_t N>
  T pick(const T (&options)[N]) {
    return options[byte() % N];
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

constexpr uint32_t kSelectors[] = {
    kAudioObjectPropertyBaseClass, kAudioObjectPropertyClass, kAudioObjectPropertyOwner,
    kAudioObjectPropertyName, kAudioObjectPropertyManufacturer, kAudioObjectPropertyOwnedObjects,
    kAudioObjectPropertyControlList, kAudioPlugInPropertyDeviceList, kAudioPlugInPropertyTranslateUIDToDevice,
    kAudioPlugInPropertyResourceBundle, kAudioDevicePropertyDeviceUID, kAudioDevicePropertyModelUID,
    kAudioDevicePropertyTransportType, kAudioDevicePropertyRelatedDevices, kAudioDevicePropertyClockDomain,
    kAudioDevicePropertyDeviceIsAlive, kAudioDevicePropertyDeviceIsRunning,
    kAudioDevicePropertyDeviceCanBeDefaultDevice, kAudioDevicePropertyDeviceCanBeDefaultSystemDevice,
    kAudioDevicePropertyLatency, kAudioDevicePropertyStreams, kAudioDevicePropertySafetyOffset,
    kAudioDevicePropertyNominalSampleRate, kAudioDevicePropertyAvailableNominalSampleRates,
    kAudioDevicePropertyIcon, kAudioDevicePropertyIsHidden, kAudioDevicePropertyPreferredChannelsForStereo,
    kAudioDevicePropertyPreferredChannelLayout, kAudioDevicePropertyZeroTimeStampPeriod,
    kAudioStreamPropertyIsActive, kAudioStreamPropertyDirection, kAudioStreamPropertyTerminalType,
    kAudioStreamPropertyStartingChannel, kAudioStreamPropertyVirtualFormat,
    kAudioStreamPropertyAvailableVirtualFormats, kAudioStreamPropertyPhysicalFormat,
    kAudioStreamPropertyAvailablePhysicalFormats, 0, 0xFFFFFFFF};
constexpr uint32_t kObjects[] = {0, 1, 2, 3, 4, 5, 11, 12, 13, 14, 15, 0xFFFFFFFF};
constexpr uint32_t kScopes[] = {kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyScopeInput,
                                kAudioObjectPropertyScopeOutput, kAudioObjectPropertyScopePlayThrough, 0};
constexpr uint32_t kOperations[] = {kAudioServerPlugInIOOperationReadInput, kAudioServerPlugInIOOperationWriteMix,
                                    kAudioServerPlugInIOOperationMixOutput, kAudioServerPlugInIOOperationCycle, 0};
constexpr uint8_t kCanary = 0xA5;
constexpr size_t kCanaryBytes = 32;

[[noreturn]] void failure(const char* what, uint32_t object, uint32_t selector, uint32_t size) {
  std::fprintf(stderr, "driver fuzz: %s (object %u selector %08x size %u)\n", what, object, selector, size);
  std::abort();
}

// A buffer of the given size followed by a canary that must survive the call.
struct GuardedBuffer {
  explicit GuardedBuffer(size_t usable) : size(usable), bytes(usable + kCanaryBytes, kCanary) {}
  bool intact() const {
    return std::all_of(bytes.begin() + static_cast<std::ptrdiff_t>(size), bytes.end(),
                       [](uint8_t b) { return b == kCanary; });
  }
  size_t size;
  std::vector<uint8_t> bytes;
};

bool returnsNewObject(uint32_t object, uint32_t selector) {
  const bool isPlugIn = object == 1;
  const bool isDevice = object == 2 || object == 12;
  const bool isStream = object == 3 || object == 4 || object == 13 || object == 14;
  switch (selector) {
    case kAudioObjectPropertyManufacturer:
      return isPlugIn || isDevice;
    case kAudioObjectPropertyName:
      return isDevice || isStream;
    case kAudioDevicePropertyDeviceUID:
    case kAudioDevicePropertyModelUID:
    case kAudioDevicePropertyIcon:
      return isDevice;
    default:
      return false;
  }
}

AudioObjectPropertyAddress address(Choices& in) {
  const uint32_t selector = in.byte() % 8 == 0 ? in.u32() : in.pick(kSelectors);
  const uint32_t scope = in.byte() % 8 == 0 ? in.u32() : in.pick(kScopes);
  return {selector, scope, in.byte() % 4 == 0 ? in.u32() : 0};
}

uint32_t object(Choices& in) { return in.byte() % 8 == 0 ? in.u32() : in.pick(kObjects); }

void fuzzGet(const HostSimulator& host, Choices& in) {
  const uint32_t target = object(in);
  const AudioObjectPropertyAddress where = address(in);
  const uint32_t size = in.byte() % 4 == 0 ? in.u32() % 512 : in.byte() % 130;

  // The qualifier is a CFString when the host passes one; anything else only with a size that is not a pointer's.
  CFStringRef uid = CFStringCreateWithCString(nullptr, in.byte() % 2 ? "OskelSpeaker_UID" : "x", kCFStringEncodingUTF8);
  uint8_t qualifierBytes[16] = {};
  const void* qualifier = nullptr;
  uint32_t qualifierSize = 0;
  switch (in.byte() % 3) {
    case 1:
      qualifier = &uid;
      qualifierSize = in.byte() % 2 ? sizeof uid : in.byte() % 16;
      break;
    case 2:
      qualifier = qualifierBytes;
      qualifierSize = in.byte() % 16;
      if (qualifierSize == sizeof(CFStringRef)) ++qualifierSize;
      break;
    default:
      break;
  }

  UInt32 reported = 0;
  host.call().GetPropertyDataSize(host.driver(), target, 0, &where, qualifierSize, qualifier, &reported);

  GuardedBuffer buffer(size);
  UInt32 written = 0xFFFFFFFF;
  const OSStatus result = host.call().GetPropertyData(host.driver(), target, 0, &where, qualifierSize, qualifier,
                                                      size, &written, buffer.bytes.data());
  if (!buffer.intact()) failure("wrote past the buffer", target, where.mSelector, size);
  if (result == 0) {
    if (written > size) failure("reported more than the buffer holds", target, where.mSelector, size);
    if (written > reported) failure("wrote more than its reported size", target, where.mSelector, size);
    if (returnsNewObject(target, where.mSelector) && written == sizeof(CFTypeRef)) {
      CFTypeRef made = nullptr;
      std::memcpy(&made, buffer.bytes.data(), sizeof made);
      CFRelease(made);
    }
  }
  CFRelease(uid);
}

void fuzzSet(const HostSimulator& host, Choices& in) {
  const uint32_t target = object(in);
  const AudioObjectPropertyAddress where = address(in);
  const uint32_t size = in.byte() % 64;
  std::vector<uint8_t> data(size + 1);
  for (auto& byte : data) byte = in.byte();
  if (size == 8 && in.byte() % 2) {
    const Float64 rate = in.byte() % 2 ? 44100.0 : 48000.0;
    std::memcpy(data.data(), &rate, sizeof rate);
  }
  host.call().SetPropertyData(host.driver(), target, 0, &where, 0, nullptr, size, in.byte() % 16 ? data.data() : nullptr);
}

void fuzzQueries(const HostSimulator& host, Choices& in) {
  const uint32_t target = object(in);
  const AudioObjectPropertyAddress where = address(in);
  host.call().HasProperty(host.driver(), target, 0, &where);
  Boolean settable = 0;
  host.call().IsPropertySettable(host.driver(), target, 0, &where, in.byte() % 16 ? &settable : nullptr);
}

void fuzzIO(HostSimulator& host, Choices& in) {
  const uint32_t device = object(in);
  const auto& t = host.call();
  switch (in.byte() % 6) {
    case 0:
      t.StartIO(host.driver(), device, in.byte());
      return;
    case 1:
      t.StopIO(host.driver(), device, in.byte());
      return;
    case 2: {
      host.advanceTicks(in.u32());
      Float64 sampleTime = 0;
      UInt64 hostTime = 0, seed = 0;
      t.GetZeroTimeStamp(host.driver(), device, 0, &sampleTime, &hostTime, &seed);
      return;
    }
    case 3:
      t.PerformDeviceConfigurationChange(host.driver(), device, in.byte() % 2 ? in.u32() : 44100 + 3900 * (in.byte() % 2),
                                         nullptr);
      return;
    default: {
      const uint32_t stream = object(in);
      const uint32_t frames = in.byte() % 8 ? in.byte() * 4u : in.u32() % 70000;
      GuardedBuffer buffer(size_t{frames} * 8);
      const double times[] = {static_cast<double>(in.u32()), -1.0, std::nan(""), 1e300,
                              static_cast<double>(in.u32()) * 65536.0};
      AudioServerPlugInIOCycleInfo cycle{};
      cycle.mInputTime.mSampleTime = in.pick(times);
      cycle.mOutputTime.mSampleTime = in.pick(times);
      t.DoIOOperation(host.driver(), device, stream, 0, in.pick(kOperations), frames, &cycle,
                      in.byte() % 16 ? buffer.bytes.data() : nullptr, nullptr);
      if (!buffer.intact()) failure("IO wrote past the buffer", device, stream, frames);
      return;
    }
  }
}

HostSimulator& sharedHost() {
  static HostSimulator* host = [] {
    auto* simulator = new HostSimulator();
    if (simulator->initialize() != 0) std::abort();
    return simulator;
  }();
  return *host;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  HostSimulator& host = sharedHost();
  Choices in(data, size);
  while (in.more()) {
    switch (in.byte() % 5) {
      case 0:
      case 1:
        fuzzGet(host, in);
        break;
      case 2:
        fuzzSet(host, in);
        break;
      case 3:
        fuzzQueries(host, in);
        break;
      default:
        fuzzIO(host, in);
        break;
    }
  }
  host.runGlobalQueue();
  host.performRequestedChanges();
  host.propertyChanges.clear();
  host.clearLog();
  return 0;
}
