// The plug-in's entry into the audio server: factory, COM, initialisation,
// device clients, and the rejection of calls that are not meant for it.
#include <string>

#include "DriverTestSupport.h"

namespace oskel::driver_test {
namespace {

constexpr HRESULT kNoInterface = static_cast<HRESULT>(0x80000004u);
constexpr HRESULT kBadPointer = static_cast<HRESULT>(0x80000005u);

TEST(DriverFactory, HandsOutTheDriverOnlyForThePlugInType) {
  HostSimulator host;  // collects the log of every driver copy
  const DriverFactory factory = loadFreshDriverModule();
  host.clearLog();

  EXPECT_EQ(factory(nullptr, kAudioServerPlugInDriverInterfaceUUID), nullptr);
  ASSERT_EQ(host.log().size(), 1u);
  EXPECT_EQ(host.log()[0].text, "OskelAudio: factory: unexpected type UUID requested");
  EXPECT_EQ(host.log()[0].level, OS_LOG_TYPE_ERROR);
  EXPECT_EQ(factory(nullptr, nullptr), nullptr);

  host.clearLog();
  void* driver = factory(nullptr, kAudioServerPlugInTypeUUID);
  ASSERT_NE(driver, nullptr);
  // The same reference every time: the driver is a process-wide singleton.
  EXPECT_EQ(factory(nullptr, kAudioServerPlugInTypeUUID), driver);
  const auto lines = host.log();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines[0].text, "OskelAudio: factory: creating driver");
  EXPECT_EQ(lines[0].level, OS_LOG_TYPE_DEFAULT);
  EXPECT_EQ(lines[0].subsystem, "com.brindlework.oskelaudio");
  EXPECT_EQ(lines[0].category, "driver");

  // A UUID made at run time, not the interned constant: compared by value.
  CFUUIDRef type = CFUUIDCreateFromUUIDBytes(nullptr, CFUUIDGetUUIDBytes(kAudioServerPlugInTypeUUID));
  EXPECT_NE(loadFreshDriverModule()(nullptr, type), nullptr);
  CFRelease(type);
}

TEST(DriverCOM, QueryInterfaceAnswersIUnknownAndTheDriverInterfaceOnlyAndCountsNeverGoNegative) {
  HostSimulator host;
  const auto driver = host.driver();
  const auto& table = host.call();
  const ULONG before = table.AddRef(driver);

  LPVOID out = nullptr;
  EXPECT_EQ(table.QueryInterface(driver, CFUUIDGetUUIDBytes(IUnknownUUID), &out), S_OK);
  EXPECT_EQ(out, driver);
  EXPECT_EQ(table.QueryInterface(driver, CFUUIDGetUUIDBytes(kAudioServerPlugInDriverInterfaceUUID), &out), S_OK);
  EXPECT_EQ(out, driver);
  EXPECT_EQ(table.AddRef(driver), before + 3) << "each successful query adds a reference";

  out = driver;
  EXPECT_EQ(table.QueryInterface(driver, CFUUIDGetUUIDBytes(kAudioServerPlugInTypeUUID), &out), kNoInterface);
  EXPECT_EQ(out, nullptr);

  AudioServerPlugInDriverInterface* impostor = *driver;  // same table, different reference
  EXPECT_EQ(table.QueryInterface(&impostor, CFUUIDGetUUIDBytes(IUnknownUUID), &out), kBadPointer);
  EXPECT_EQ(table.QueryInterface(driver, CFUUIDGetUUIDBytes(IUnknownUUID), nullptr), kBadPointer);

  // The reference count never goes below zero.
  ULONG count = table.AddRef(driver);
  while (count > 0) count = table.Release(driver);
  EXPECT_EQ(table.Release(driver), 0u);
  EXPECT_EQ(table.AddRef(driver), 1u);
  EXPECT_EQ(table.AddRef(&impostor), 0u);
  EXPECT_EQ(table.Release(&impostor), 0u);
  EXPECT_EQ(table.Release(driver), 0u);
}

TEST(DriverInitialize, LogsEachDeviceAndSurvivesAllocationFailures) {
  const auto frames = rampFrames(64, 1.0f);
  {
    HostSimulator host;
    OskelCompat_FailAllocations(1, 1);  // the microphone's ring succeeds, its lap tags fail
    EXPECT_EQ(host.initialize(), kAudioHardwareUnspecifiedError);
    OskelCompat_FailAllocations(0, 0);
    EXPECT_EQ(host.writeAt(kMicrophone, 0, frames), 0);
    EXPECT_TRUE(allZero(host.readFrames(kMicrophone, 0, 64))) << "no half ring";

    // A later Initialize that gets its memory brings the device back.
    host.clearLog();
    ASSERT_EQ(host.initialize(), 0);
    EXPECT_TRUE(host.logged("OskelAudio: initialize: device Oskel Microphone id=2 in=3 out=4"));
    EXPECT_TRUE(host.logged("OskelAudio: initialize: device Oskel Speaker id=12 in=13 out=14"));
    EXPECT_EQ(host.writeAt(kMicrophone, 0, frames), 0);
    EXPECT_EQ(host.readFrames(kMicrophone, 0, 64), frames);
    EXPECT_EQ(host.call().Initialize(host.driver(), nullptr), kAudioHardwareIllegalOperationError);
  }
  HostSimulator host;
  host.clearLog();
  OskelCompat_FailAllocations(2, 1);  // the microphone gets its ring and tags, the speaker does not
  EXPECT_EQ(host.initialize(), kAudioHardwareUnspecifiedError);
  OskelCompat_FailAllocations(0, 0);

  EXPECT_TRUE(host.logged("initialize: device Oskel Microphone"));
  EXPECT_FALSE(host.logged("initialize: device Oskel Speaker"));
  const auto lines = host.log();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().text, "OskelAudio: initialize: out of memory allocating loopback ring for Oskel Speaker");
  EXPECT_EQ(lines.back().level, OS_LOG_TYPE_ERROR);

  // Without a ring the device stays usable: writes vanish, reads are silent.
  EXPECT_EQ(host.writeAt(kSpeaker, 100, frames), 0);
  EXPECT_TRUE(allZero(host.readFrames(kSpeaker, 100, 64)));
  EXPECT_EQ(host.writeAt(kMicrophone, 100, frames), 0);
  EXPECT_EQ(host.readFrames(kMicrophone, 100, 64), frames);
}

using DriverTestFixture = DriverTest;

TEST_F(DriverTestFixture, ClientsAreLoggedWithPidAndBundle) {
  CFStringRef bundle = CFStringCreateWithCString(nullptr, "us.zoom.xos", kCFStringEncodingUTF8);
  AudioServerPlugInClientInfo zoom{7, 4242, 1, bundle};
  EXPECT_EQ(host.call().AddDeviceClient(host.driver(), kMicrophone, &zoom), 0);
  EXPECT_TRUE(host.logged("OskelAudio: client added to Oskel Microphone: pid=4242 bundle=us.zoom.xos"));
  CFRelease(bundle);

  AudioServerPlugInClientInfo anonymous{8, 99, 1, nullptr};
  EXPECT_EQ(host.call().AddDeviceClient(host.driver(), kSpeaker, &anonymous), 0);
  EXPECT_TRUE(host.logged("OskelAudio: client added to Oskel Speaker: pid=99 bundle=?"));

  // Longer than the 256 bytes the log line allows.
  CFStringRef huge = CFStringCreateWithCString(nullptr, std::string(300, 'x').c_str(), kCFStringEncodingUTF8);
  AudioServerPlugInClientInfo verbose{9, 5, 1, huge};
  EXPECT_EQ(host.call().AddDeviceClient(host.driver(), kSpeaker, &verbose), 0);
  EXPECT_TRUE(host.logged("client added to Oskel Speaker: pid=5 bundle=?"));
  CFRelease(huge);

  EXPECT_EQ(host.call().RemoveDeviceClient(host.driver(), kSpeaker, &anonymous), 0);
  EXPECT_TRUE(host.logged("OskelAudio: client removed from Oskel Speaker: pid=99"));

  const size_t before = host.log().size();
  EXPECT_EQ(host.call().AddDeviceClient(host.driver(), kSpeaker, nullptr), 0);
  EXPECT_EQ(host.call().RemoveDeviceClient(host.driver(), kSpeaker, nullptr), 0);
  EXPECT_EQ(host.log().size(), before);
}

// Every entry point compares the reference itself, not the table it points at,
// and those that take a device check that they got one.
TEST_F(DriverTestFixture, ForeignDriverReferencesAndNonDevicesAreRejected) {
  AudioServerPlugInDriverInterface* copy = *host.driver();
  const AudioServerPlugInDriverRef foreign = &copy;
  const auto& t = host.call();
  const AudioObjectPropertyAddress address{kAudioObjectPropertyClass, kGlobal, 0};
  UInt32 size = 0, value = 0;
  Boolean flag = 0;
  Float64 sampleTime = 0;
  UInt64 hostTime = 0, seed = 0;
  AudioServerPlugInIOCycleInfo cycle{};
  float frames[4] = {};
  AudioObjectID created = 0;
  const OSStatus bad = kAudioHardwareBadObjectError;
  // Every call that takes a device, made with the given reference on the given object.
  const auto deviceCalls = [&](AudioServerPlugInDriverRef driver, AudioObjectID object) {
    const UInt32 mix = kAudioServerPlugInIOOperationWriteMix;
    return std::vector<OSStatus>{t.AddDeviceClient(driver, object, nullptr),
                                 t.RemoveDeviceClient(driver, object, nullptr),
                                 t.PerformDeviceConfigurationChange(driver, object, 44100, nullptr),
                                 t.AbortDeviceConfigurationChange(driver, object, 44100, nullptr),
                                 t.StartIO(driver, object, 1),
                                 t.StopIO(driver, object, 1),
                                 t.GetZeroTimeStamp(driver, object, 1, &sampleTime, &hostTime, &seed),
                                 t.WillDoIOOperation(driver, object, 1, mix, &flag, &flag),
                                 t.BeginIOOperation(driver, object, 1, mix, 2, &cycle),
                                 t.DoIOOperation(driver, object, kMicrophoneOutput, 1, mix, 2, &cycle, frames, nullptr),
                                 t.EndIOOperation(driver, object, 1, mix, 2, &cycle)};
  };
  const std::vector<OSStatus> allBad(11, bad);

  EXPECT_EQ(deviceCalls(foreign, kMicrophone), allBad);
  EXPECT_EQ(t.Initialize(foreign, host.host()), bad);
  EXPECT_EQ(t.CreateDevice(foreign, nullptr, nullptr, &created), bad);
  EXPECT_EQ(t.DestroyDevice(foreign, kMicrophone), bad);
  EXPECT_FALSE(t.HasProperty(foreign, kMicrophone, 0, &address));
  EXPECT_EQ(t.IsPropertySettable(foreign, kMicrophone, 0, &address, &flag), bad);
  EXPECT_EQ(t.GetPropertyDataSize(foreign, kMicrophone, 0, &address, 0, nullptr, &size), bad);
  EXPECT_EQ(t.GetPropertyData(foreign, kMicrophone, 0, &address, 0, nullptr, 4, &size, &value), bad);
  EXPECT_EQ(t.SetPropertyData(foreign, kMicrophone, 0, &address, 0, nullptr, 4, &value), bad);
  // Nothing happened on the way.
  EXPECT_EQ(host.get<UInt32>(kMicrophone, kAudioDevicePropertyDeviceIsRunning).value(), 0u);

  // Calls that take a device refuse the plug-in, streams and unknown objects.
  for (AudioObjectID object : {kPlugIn, kMicrophoneInput, kSpeakerOutput, AudioObjectID{0}, AudioObjectID{5},
                               AudioObjectID{99}, AudioObjectID{0xFFFFFFFF}})
    EXPECT_EQ(deviceCalls(host.driver(), object), allBad) << object;
}

}  // namespace
}  // namespace oskel::driver_test
