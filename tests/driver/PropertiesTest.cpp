// What the audio server and its clients read and set on the plug-in, the two
// devices and their four streams.
#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>

#include <fmt/format.h>
#include <unistd.h>

#include "DriverTestSupport.h"

namespace oskel::driver_test {
namespace {

using PropertiesTest = DriverTest;

constexpr OSStatus kBadObject = kAudioHardwareBadObjectError;
constexpr OSStatus kIllegal = kAudioHardwareIllegalOperationError;
constexpr OSStatus kUnknown = kAudioHardwareUnknownPropertyError;
constexpr OSStatus kBadSize = kAudioHardwareBadPropertySizeError;

TEST_F(PropertiesTest, ListsAreCutToWholeEntriesAndFixedValuesNeedTheirWholeSize) {
  struct Read {
    AudioObjectID object;
    AudioObjectPropertySelector selector;
    AudioObjectPropertyScope scope;
    UInt32 capacity;
    OSStatus status;
    UInt32 written;
  };
  const Read reads[] = {
      {kPlugIn, kAudioPlugInPropertyDeviceList, kGlobal, 4, 0, 4},
      {kPlugIn, kAudioPlugInPropertyDeviceList, kGlobal, 16, 0, 8},  // a larger buffer still gets two entries
      {kPlugIn, kAudioObjectPropertyOwnedObjects, kGlobal, 7, 0, 4},
      {kPlugIn, kAudioObjectPropertyOwnedObjects, kGlobal, 3, 0, 0},
      {kSpeaker, kAudioDevicePropertyRelatedDevices, kGlobal, 2, 0, 0},
      {kSpeaker, kAudioDevicePropertyRelatedDevices, kGlobal, 16, 0, 4},
      {kMicrophone, kAudioDevicePropertyAvailableNominalSampleRates, kGlobal, 20, 0, 16},
      {kMicrophone, kAudioDevicePropertyStreams, kGlobal, 7, 0, 4},
      // Fixed values need their whole size, and nothing is written without it.
      {kPlugIn, kAudioObjectPropertyClass, kGlobal, 3, kBadSize, 0},
      {kMicrophone, kAudioDevicePropertyNominalSampleRate, kGlobal, 4, kBadSize, 0},
      {kSpeaker, kAudioObjectPropertyName, kGlobal, 4, kBadSize, 0},
      {kSpeaker, kAudioDevicePropertyPreferredChannelLayout, kOutput, 51, kBadSize, 0},
      {kSpeakerInput, kAudioStreamPropertyVirtualFormat, kGlobal, 39, kBadSize, 0},
  };
  for (const auto& [object, selector, scope, capacity, status, expected] : reads) {
    SCOPED_TRACE(fmt::format("{} {} in {} bytes", object, fourCCText(selector), capacity));
    std::array<UInt8, 64> bytes{};
    UInt32 written = 0;
    EXPECT_EQ(host.getData(object, selector, scope, capacity, bytes.data(), written), status);
    EXPECT_EQ(written, expected);
    EXPECT_TRUE(std::all_of(bytes.begin() + expected, bytes.end(), [](UInt8 b) { return b == 0; }));
  }
  EXPECT_EQ(host.get<AudioObjectID>(kPlugIn, kAudioPlugInPropertyDeviceList).value(), kMicrophone);
  EXPECT_EQ(host.get<AudioObjectID>(kSpeaker, kAudioDevicePropertyRelatedDevices).value(), kSpeaker);
  EXPECT_EQ(host.get<AudioValueRange>(kMicrophone, kAudioDevicePropertyAvailableNominalSampleRates)->mMinimum, 44100.0);
}

TEST_F(PropertiesTest, UIDTranslationIsExactAndCaseSensitive) {
  EXPECT_EQ(host.translateUID("OskelSpeaker_UID"), kSpeaker);
  EXPECT_EQ(host.translateUID("OskelMicrophone_UID"), kMicrophone);
  EXPECT_EQ(host.translateUID("oskelspeaker_uid"), 0u);
  EXPECT_EQ(host.translateUID("OskelSpeaker_UID "), 0u);
  EXPECT_EQ(host.translateUID("OskelSpeaker"), 0u);
  EXPECT_EQ(host.translateUID(""), 0u);

  AudioObjectID device = 0;
  const auto translate = [&](UInt32 qualifierSize, const void* qualifier) {
    UInt32 written = 0;
    return host.getData(kPlugIn, kAudioPlugInPropertyTranslateUIDToDevice, kGlobal, 4, &device, written, qualifierSize,
                        qualifier);
  };
  CFStringRef uid = CFSTR("OskelSpeaker_UID"), none = nullptr;
  EXPECT_EQ(translate(4, &uid), kBadSize);
  EXPECT_EQ(translate(8, nullptr), kIllegal);
  EXPECT_EQ(translate(8, &none), 0);
  EXPECT_EQ(device, 0u);
}

TEST_F(PropertiesTest, StreamListsFollowTheScope) {
  using Pair = std::array<AudioObjectID, 2>;
  const AudioObjectPropertySelector streamLists[] = {kAudioDevicePropertyStreams, kAudioObjectPropertyOwnedObjects};
  for (AudioObjectPropertySelector selector : streamLists) {
    UInt32 size = 0;
    EXPECT_EQ(host.dataSize(kSpeaker, selector, size, kInput), 0);
    EXPECT_EQ(size, 4u);
    EXPECT_EQ(host.dataSize(kSpeaker, selector, size, kAudioObjectPropertyScopePlayThrough), 0);
    EXPECT_EQ(size, 8u);
    EXPECT_EQ(host.get<AudioObjectID>(kSpeaker, selector, kInput).value(), kSpeakerInput);
    EXPECT_EQ(host.get<AudioObjectID>(kSpeaker, selector, kOutput).value(), kSpeakerOutput);
    EXPECT_EQ(host.get<Pair>(kMicrophone, selector, kGlobal).value(), (Pair{kMicrophoneInput, kMicrophoneOutput}));
    EXPECT_EQ(host.get<AudioObjectID>(kMicrophone, selector, kGlobal).value(), kMicrophoneInput) << "cut to one";
  }
}

TEST_F(PropertiesTest, DirectionalPropertiesExistOnlyInInputAndOutputScope) {
  const AudioObjectPropertySelector directional[] = {
      kAudioDevicePropertyDeviceCanBeDefaultDevice, kAudioDevicePropertyDeviceCanBeDefaultSystemDevice,
      kAudioDevicePropertyLatency, kAudioDevicePropertySafetyOffset,
      kAudioDevicePropertyPreferredChannelsForStereo, kAudioDevicePropertyPreferredChannelLayout};
  for (auto selector : directional) {
    EXPECT_FALSE(host.has(kMicrophone, selector, kGlobal));
    EXPECT_TRUE(host.has(kMicrophone, selector, kInput));
    EXPECT_TRUE(host.has(kMicrophone, selector, kOutput));
    UInt32 size = 0;
    EXPECT_EQ(host.dataSize(kMicrophone, selector, size, kGlobal), 0) << "the data calls do not check the scope";
  }
  EXPECT_TRUE(host.has(kMicrophone, kAudioDevicePropertyNominalSampleRate, kGlobal));
  EXPECT_TRUE(host.has(kMicrophone, kAudioDevicePropertyNominalSampleRate, kAudioObjectPropertyScopePlayThrough));
}

TEST_F(PropertiesTest, IconComesFromTheBundleResources) {
  EXPECT_EQ(host.get<CFURLRef>(kMicrophone, kAudioDevicePropertyIcon).error(), kAudioHardwareUnspecifiedError);

  namespace fs = std::filesystem;
  const fs::path resources = fs::temp_directory_path() / fmt::format("oskel-icon-{}", ::getpid());
  fs::create_directories(resources);
  OskelCompat_RegisterBundle("com.brindlework.oskelaudio", resources.c_str());
  EXPECT_EQ(host.get<CFURLRef>(kMicrophone, kAudioDevicePropertyIcon).error(), kAudioHardwareUnspecifiedError)
      << "a bundle without the icon file";

  std::ofstream(resources / "DeviceIcon.icns") << "icns";
  CFURLRef icon = host.get<CFURLRef>(kSpeaker, kAudioDevicePropertyIcon).value();
  char path[1024] = {};
  ASSERT_TRUE(CFURLGetFileSystemRepresentation(icon, 1, reinterpret_cast<UInt8*>(path), sizeof path));
  EXPECT_EQ(fs::path(path), resources / "DeviceIcon.icns");
  CFRelease(icon);

  OskelCompat_RegisterBundle("com.brindlework.oskelaudio", nullptr);
  fs::remove_all(resources);
}

TEST_F(PropertiesTest, OnlyRateFormatAndActivityAreSettable) {
  struct Case {
    AudioObjectID object;
    AudioObjectPropertySelector selector;
    OSStatus status;
    bool settable;
  };
  const Case cases[] = {
      {kPlugIn, kAudioPlugInPropertyDeviceList, 0, false},
      {kPlugIn, kAudioDevicePropertyNominalSampleRate, kUnknown, false},
      {kSpeaker, kAudioDevicePropertyNominalSampleRate, 0, true},
      {kSpeaker, kAudioObjectPropertyName, 0, false},
      {kSpeaker, kAudioDevicePropertyLatency, 0, false},
      {kSpeaker, kAudioStreamPropertyIsActive, kUnknown, false},
      {kMicrophoneOutput, kAudioStreamPropertyVirtualFormat, 0, true},
      {kMicrophoneOutput, kAudioStreamPropertyPhysicalFormat, 0, true},
      {kMicrophoneOutput, kAudioStreamPropertyIsActive, 0, true},
      {kMicrophoneOutput, kAudioStreamPropertyDirection, 0, false},
      {kMicrophoneOutput, kAudioDevicePropertyNominalSampleRate, kUnknown, false},
  };
  for (const auto& [object, selector, status, expected] : cases) {
    SCOPED_TRACE(fmt::format("{} {}", object, fourCCText(selector)));
    Boolean settable = 0;
    EXPECT_EQ(host.settable(object, selector, settable), status);
    EXPECT_EQ(settable != 0, expected);
  }

  const UInt32 one = 1;
  EXPECT_EQ(host.set(kPlugIn, kAudioObjectPropertyClass, one), kUnknown);
  EXPECT_EQ(host.set(kMicrophone, kAudioObjectPropertyClass, one), kIllegal);
  EXPECT_EQ(host.set(kMicrophone, fourCC("zzzz"), one), kUnknown);
  EXPECT_EQ(host.set(kMicrophoneInput, kAudioStreamPropertyDirection, one), kIllegal);
  EXPECT_EQ(host.set(kMicrophoneInput, fourCC("zzzz"), one), kUnknown);
}

TEST_F(PropertiesTest, StreamActivityIsStoredAndAnnouncedOnChange) {
  const UInt32 off = 0, on = 7;
  EXPECT_EQ(host.set(kSpeakerOutput, kAudioStreamPropertyIsActive, off), 0);
  EXPECT_EQ(host.get<UInt32>(kSpeakerOutput, kAudioStreamPropertyIsActive).value(), 0u);
  EXPECT_EQ(host.get<UInt32>(kSpeakerInput, kAudioStreamPropertyIsActive).value(), 1u);
  EXPECT_EQ(announcements(host), "14:sact/glob/0");

  EXPECT_EQ(host.set(kSpeakerOutput, kAudioStreamPropertyIsActive, off), 0);
  EXPECT_EQ(announcements(host), "14:sact/glob/0") << "no change, no announcement";
  EXPECT_EQ(host.set(kSpeakerOutput, kAudioStreamPropertyIsActive, on), 0);
  EXPECT_EQ(host.get<UInt32>(kSpeakerOutput, kAudioStreamPropertyIsActive).value(), 1u);
  EXPECT_EQ(announcements(host), "14:sact/glob/0 14:sact/glob/0");

  const UInt64 wide = 0;
  EXPECT_EQ(host.set(kSpeakerOutput, kAudioStreamPropertyIsActive, wide), kBadSize);
  EXPECT_EQ(host.get<UInt32>(kSpeakerOutput, kAudioStreamPropertyIsActive).value(), 1u);
}

TEST_F(PropertiesTest, UnknownSelectorsObjectsAndNullPointers) {
  const AudioObjectPropertySelector unknown = fourCC("zzzz");
  UInt32 size = 0, value = 0;
  Boolean flag = 0;
  for (AudioObjectID object : {kPlugIn, kMicrophone, kSpeakerInput}) {
    EXPECT_FALSE(host.has(object, unknown));
    EXPECT_EQ(host.dataSize(object, unknown, size), kUnknown);
    EXPECT_EQ(host.settable(object, unknown, flag), kUnknown);
    EXPECT_EQ(host.getData(object, unknown, kGlobal, 4, &value, size), kUnknown);
  }
  // Device-only and plug-in-only selectors are unknown on the other kinds.
  EXPECT_FALSE(host.has(kPlugIn, kAudioObjectPropertyName));
  EXPECT_FALSE(host.has(kMicrophoneInput, kAudioDevicePropertyDeviceUID));
  EXPECT_FALSE(host.has(kMicrophone, kAudioPlugInPropertyDeviceList));

  for (AudioObjectID object : {AudioObjectID{0}, AudioObjectID{5}, AudioObjectID{11}, AudioObjectID{15}}) {
    EXPECT_FALSE(host.has(object, kAudioObjectPropertyClass));
    EXPECT_EQ(host.dataSize(object, kAudioObjectPropertyClass, size), kBadObject);
    EXPECT_EQ(host.settable(object, kAudioObjectPropertyClass, flag), kBadObject);
    EXPECT_EQ(host.getData(object, kAudioObjectPropertyClass, kGlobal, 4, &value, size), kBadObject);
    EXPECT_EQ(host.set(object, kAudioObjectPropertyClass, value), kBadObject);
  }

  const auto& t = host.call();
  const auto d = host.driver();
  const AudioObjectPropertyAddress address{kAudioObjectPropertyClass, kGlobal, 0};
  EXPECT_FALSE(t.HasProperty(d, kMicrophone, 0, nullptr));
  EXPECT_EQ(t.IsPropertySettable(d, kMicrophone, 0, nullptr, &flag), kIllegal);
  EXPECT_EQ(t.IsPropertySettable(d, kMicrophone, 0, &address, nullptr), kIllegal);
  EXPECT_EQ(t.GetPropertyDataSize(d, kMicrophone, 0, nullptr, 0, nullptr, &size), kIllegal);
  EXPECT_EQ(t.GetPropertyDataSize(d, kMicrophone, 0, &address, 0, nullptr, nullptr), kIllegal);
  EXPECT_EQ(t.GetPropertyData(d, kMicrophone, 0, nullptr, 0, nullptr, 4, &size, &value), kIllegal);
  EXPECT_EQ(t.GetPropertyData(d, kMicrophone, 0, &address, 0, nullptr, 4, nullptr, &value), kIllegal);
  EXPECT_EQ(t.GetPropertyData(d, kMicrophone, 0, &address, 0, nullptr, 4, &size, nullptr), kIllegal);
  EXPECT_EQ(t.SetPropertyData(d, kMicrophone, 0, nullptr, 0, nullptr, 4, &value), kIllegal);
  EXPECT_EQ(t.SetPropertyData(d, kMicrophone, 0, &address, 0, nullptr, 4, nullptr), kIllegal);
  Float64 sampleTime = 0;
  UInt64 hostTime = 0, seed = 0;
  EXPECT_EQ(t.GetZeroTimeStamp(d, kSpeaker, 1, nullptr, &hostTime, &seed), kIllegal);
  EXPECT_EQ(t.GetZeroTimeStamp(d, kSpeaker, 1, &sampleTime, nullptr, &seed), kIllegal);
  EXPECT_EQ(t.GetZeroTimeStamp(d, kSpeaker, 1, &sampleTime, &hostTime, nullptr), kIllegal);
}

}  // namespace
}  // namespace oskel::driver_test
