#include "HostSimulator.h"

#include <dlfcn.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>

#include <fmt/format.h>

namespace oskel::driver_test {

namespace {

[[noreturn]] void fail(const std::string& message) {
  std::fprintf(stderr, "HostSimulator: %s\n", message.c_str());
  std::abort();
}

}  // namespace

DriverFactory loadFreshDriverModule() {
  namespace fs = std::filesystem;
  static std::atomic<int> copies{0};
  std::string folder = (fs::temp_directory_path() / "oskel-driver-XXXXXX").string();
  if (mkdtemp(folder.data()) == nullptr) fail("cannot make a folder for the driver copy");
  const fs::path copy = fs::path(folder) / fmt::format("OskelAudio-{}.so", copies++);
  fs::copy_file(OSKEL_AUDIO_DRIVER_MODULE, copy);
  // A distinct file is a distinct module with its own globals; it is never
  // unloaded, so its rings stay reachable for the leak checker.
  void* module = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  if (module == nullptr) fail(fmt::format("dlopen failed: {}", dlerror()));
  void* factory = dlsym(module, "OskelAudio_Create");
  if (factory == nullptr) fail("the driver exports no OskelAudio_Create");
  return reinterpret_cast<DriverFactory>(factory);
}

HostSimulator::HostSimulator(uint32_t timebaseNumer, uint32_t timebaseDenom)
    : record_(makeRecord(this)), timebaseNumer_(timebaseNumer), timebaseDenom_(timebaseDenom) {
  OskelCompat_SetHostClock([](void* self) { return static_cast<HostSimulator*>(self)->now_.load(); }, this,
                           timebaseNumer, timebaseDenom);
  OskelCompat_SetLogSink(
      [](void* self, uint8_t level, const char* subsystem, const char* category, const char* line) {
        auto* host = static_cast<HostSimulator*>(self);
        std::lock_guard lock(host->mutex_);
        host->log_.push_back({level, subsystem, category, line});
      },
      this);
  OskelCompat_SetGlobalQueueExecutor(
      [](void* self, void* context, void (*work)(void*)) {
        auto* host = static_cast<HostSimulator*>(self);
        std::lock_guard lock(host->mutex_);
        host->queue_.push_back({context, work});
      },
      this);

  // As the audio server: the factory for the plug-in type, then the driver interface.
  void* created = loadFreshDriverModule()(nullptr, kAudioServerPlugInTypeUUID);
  if (created == nullptr) fail("the factory refused the plug-in type");
  auto unknown = static_cast<AudioServerPlugInDriverRef>(created);
  LPVOID interface = nullptr;
  if ((*unknown)->QueryInterface(unknown, CFUUIDGetUUIDBytes(kAudioServerPlugInDriverInterfaceUUID), &interface) !=
      S_OK)
    fail("the driver does not offer the driver interface");
  driver_ = static_cast<AudioServerPlugInDriverRef>(interface);
}

HostSimulator::~HostSimulator() {
  OskelCompat_SetGlobalQueueExecutor(nullptr, nullptr);
  OskelCompat_SetLogSink(nullptr, nullptr);
  OskelCompat_SetHostClock(nullptr, nullptr, 1, 1);
}

void HostSimulator::advanceSeconds(double seconds) {
  now_ += static_cast<uint64_t>(std::llround(seconds * ticksPerSecond()));
}

void HostSimulator::advanceFrames(uint64_t frames, double sampleRate) {
  // Rounded up, so the clock never lags the frames it stands for.
  fractionalTicks_ += static_cast<double>(frames) * ticksPerSecond() / sampleRate;
  const double whole = std::ceil(fractionalTicks_);
  fractionalTicks_ -= whole;
  now_ += static_cast<uint64_t>(whole);
}

size_t HostSimulator::runGlobalQueue() {
  size_t ran = 0;
  // In batches, without the lock: work may send more work, which runs after it.
  for (std::vector<QueuedWork> batch;; ran += batch.size()) {
    {
      std::lock_guard lock(mutex_);
      batch = std::exchange(queue_, {});
    }
    if (batch.empty()) return ran;
    for (const auto& item : batch) item.work(item.context);
  }
}

OSStatus HostSimulator::performRequestedChanges() {
  std::vector<ConfigurationRequest> requests;
  requests.swap(configurationRequests);
  for (const auto& request : requests) {
    const OSStatus result = call().PerformDeviceConfigurationChange(driver_, request.device, request.action,
                                                                    request.info);
    if (result != 0) return result;
  }
  return 0;
}

std::vector<LogLine> HostSimulator::log() const {
  std::lock_guard lock(mutex_);
  return log_;
}

size_t HostSimulator::countLogged(std::string_view fragment) const {
  std::lock_guard lock(mutex_);
  return static_cast<size_t>(
      std::ranges::count_if(log_, [&](const LogLine& line) { return line.text.contains(fragment); }));
}

void HostSimulator::clearLog() {
  std::lock_guard lock(mutex_);
  log_.clear();
}

// The host's callbacks record what the driver asks for; the driver keeps nothing in
// the host's storage, so those entries stay empty.
HostSimulator::HostRecord HostSimulator::makeRecord(HostSimulator* owner) {
  AudioServerPlugInHostInterface interface {};
  interface.PropertiesChanged = [](AudioServerPlugInHostRef host, AudioObjectID object, UInt32 count,
                                   const AudioObjectPropertyAddress* addresses) -> OSStatus {
    HostSimulator* self = reinterpret_cast<const HostRecord*>(host)->owner;
    std::lock_guard lock(self->mutex_);
    self->propertyChanges.push_back({object, {addresses, addresses + count}});
    return 0;
  };
  interface.RequestDeviceConfigurationChange = [](AudioServerPlugInHostRef host, AudioObjectID device, UInt64 action,
                                                  void* info) -> OSStatus {
    HostSimulator* self = reinterpret_cast<const HostRecord*>(host)->owner;
    std::lock_guard lock(self->mutex_);
    self->configurationRequests.push_back({device, action, info});
    return 0;
  };
  return {interface, owner};
}

AudioObjectID HostSimulator::translateUID(const char* uid) const {
  CFStringRef qualifier = CFStringCreateWithCString(nullptr, uid, kCFStringEncodingUTF8);
  AudioObjectID device = 0xDEADBEEF;
  UInt32 written = 0;
  const OSStatus result = getData(kPlugIn, kAudioPlugInPropertyTranslateUIDToDevice, kGlobal, sizeof device,
                                  &device, written, sizeof qualifier, &qualifier);
  CFRelease(qualifier);
  return result == 0 && written == sizeof device ? device : 0xDEADBEEF;
}

// One operation on the device's stream for its direction (input stream id + 1, output + 2).
OSStatus HostSimulator::doIO(AudioObjectID device, UInt32 operation, Float64 sampleTime,
                             std::span<float> frames) const {
  AudioServerPlugInIOCycleInfo cycle{};
  cycle.mOutputTime.mSampleTime = cycle.mInputTime.mSampleTime = sampleTime;
  const AudioObjectID stream = operation == kAudioServerPlugInIOOperationReadInput ? device + 1 : device + 2;
  return call().DoIOOperation(driver_, device, stream, 0, operation, static_cast<UInt32>(frames.size() / 2), &cycle,
                              frames.data(), nullptr);
}

}  // namespace oskel::driver_test
