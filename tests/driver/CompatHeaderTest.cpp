// The compatibility header stands in for the platform SDK; a wrong constant or
// layout there would make the driver answer the real audio server nonsense.
// These checks tie each value to its four-character code and each structure to
// the public ABI (LP64).
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>

#include "HostSimulator.h"

namespace oskel::driver_test {
namespace {

struct Code {
  UInt32 value;
  const char* text;
};

TEST(CompatHeader, ConstantsAreTheirFourCharacterCodes) {
  const Code codes[] = {
      {kAudioObjectClassID, "aobj"},
      {kAudioPlugInClassID, "aplg"},
      {kAudioDeviceClassID, "adev"},
      {kAudioStreamClassID, "astr"},
      {kAudioObjectPropertyScopeGlobal, "glob"},
      {kAudioObjectPropertyScopeInput, "inpt"},
      {kAudioObjectPropertyScopeOutput, "outp"},
      {kAudioObjectPropertyScopePlayThrough, "ptru"},
      {static_cast<UInt32>(kAudioHardwareUnspecifiedError), "what"},
      {static_cast<UInt32>(kAudioHardwareUnknownPropertyError), "who?"},
      {static_cast<UInt32>(kAudioHardwareBadPropertySizeError), "!siz"},
      {static_cast<UInt32>(kAudioHardwareIllegalOperationError), "nope"},
      {static_cast<UInt32>(kAudioHardwareBadObjectError), "!obj"},
      {static_cast<UInt32>(kAudioHardwareUnsupportedOperationError), "unop"},
      {static_cast<UInt32>(kAudioDeviceUnsupportedFormatError), "!dat"},
      {kAudioObjectPropertyBaseClass, "bcls"},
      {kAudioObjectPropertyClass, "clas"},
      {kAudioObjectPropertyOwner, "stdv"},
      {kAudioObjectPropertyName, "lnam"},
      {kAudioObjectPropertyManufacturer, "lmak"},
      {kAudioObjectPropertyOwnedObjects, "ownd"},
      {kAudioObjectPropertyControlList, "ctrl"},
      {kAudioPlugInPropertyDeviceList, "dev#"},
      {kAudioPlugInPropertyTranslateUIDToDevice, "uidd"},
      {kAudioPlugInPropertyResourceBundle, "rsrc"},
      {kAudioDevicePropertyDeviceUID, "uid "},
      {kAudioDevicePropertyModelUID, "muid"},
      {kAudioDevicePropertyTransportType, "tran"},
      {kAudioDevicePropertyRelatedDevices, "akin"},
      {kAudioDevicePropertyClockDomain, "clkd"},
      {kAudioDevicePropertyDeviceIsAlive, "livn"},
      {kAudioDevicePropertyDeviceIsRunning, "goin"},
      {kAudioDevicePropertyDeviceCanBeDefaultDevice, "dflt"},
      {kAudioDevicePropertyDeviceCanBeDefaultSystemDevice, "sflt"},
      {kAudioDevicePropertyLatency, "ltnc"},
      {kAudioDevicePropertyStreams, "stm#"},
      {kAudioDevicePropertySafetyOffset, "saft"},
      {kAudioDevicePropertyNominalSampleRate, "nsrt"},
      {kAudioDevicePropertyAvailableNominalSampleRates, "nsr#"},
      {kAudioDevicePropertyIcon, "icon"},
      {kAudioDevicePropertyIsHidden, "hidn"},
      {kAudioDevicePropertyPreferredChannelsForStereo, "dch2"},
      {kAudioDevicePropertyPreferredChannelLayout, "srnd"},
      {kAudioDevicePropertyZeroTimeStampPeriod, "ring"},
      {kAudioDeviceTransportTypeVirtual, "virt"},
      {kAudioStreamPropertyIsActive, "sact"},
      {kAudioStreamPropertyDirection, "sdir"},
      {kAudioStreamPropertyTerminalType, "term"},
      {kAudioStreamPropertyStartingChannel, "schn"},
      {kAudioStreamPropertyLatency, "ltnc"},
      {kAudioStreamPropertyVirtualFormat, "sfmt"},
      {kAudioStreamPropertyAvailableVirtualFormats, "sfma"},
      {kAudioStreamPropertyPhysicalFormat, "pft "},
      {kAudioStreamPropertyAvailablePhysicalFormats, "pfta"},
      {kAudioStreamTerminalTypeMicrophone, "micr"},
      {kAudioStreamTerminalTypeSpeaker, "spkr"},
      {kAudioFormatLinearPCM, "lpcm"},
      {kAudioServerPlugInIOOperationReadInput, "read"},
      {kAudioServerPlugInIOOperationWriteMix, "rite"},
      {kAudioServerPlugInIOOperationMixOutput, "mixo"},
      {kAudioServerPlugInIOOperationCycle, "cycl"},
  };
  for (const Code& code : codes) {
    EXPECT_EQ(code.value, fourCC(code.text)) << code.text;
  }
  EXPECT_EQ(kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked, 9u);
  EXPECT_EQ(kAudioObjectPlugInObject, 1u);
  EXPECT_EQ(kAudioObjectPropertyElementMain, 0u);
}

TEST(CompatHeader, InterfaceUUIDsAreThePublicOnes) {
  const CFUUIDBytes type = CFUUIDGetUUIDBytes(kAudioServerPlugInTypeUUID);
  const CFUUIDBytes driver = CFUUIDGetUUIDBytes(kAudioServerPlugInDriverInterfaceUUID);
  const CFUUIDBytes unknown = CFUUIDGetUUIDBytes(IUnknownUUID);
  const UInt8 expectedType[16] = {0x44, 0x3A, 0xBA, 0xB8, 0xE7, 0xB3, 0x49, 0x1A,
                                  0xB9, 0x85, 0xBE, 0xB9, 0x18, 0x70, 0x30, 0xDB};
  const UInt8 expectedDriver[16] = {0xEE, 0xA5, 0x77, 0x3D, 0xCC, 0x43, 0x49, 0xF1,
                                    0x8E, 0x00, 0x8F, 0x96, 0xE7, 0xD2, 0x3B, 0x17};
  const UInt8 expectedUnknown[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
  EXPECT_EQ(std::memcmp(&type, expectedType, 16), 0);
  EXPECT_EQ(std::memcmp(&driver, expectedDriver, 16), 0);
  EXPECT_EQ(std::memcmp(&unknown, expectedUnknown, 16), 0);
}

constexpr size_t slot(size_t index) { return index * sizeof(void*); }

TEST(CompatHeader, StructuresHaveThePublicLayout) {
  using Table = AudioServerPlugInDriverInterface;
  EXPECT_EQ(sizeof(Table), slot(23));
  EXPECT_EQ(offsetof(Table, QueryInterface), slot(1));
  EXPECT_EQ(offsetof(Table, Initialize), slot(4));
  EXPECT_EQ(offsetof(Table, PerformDeviceConfigurationChange), slot(9));
  EXPECT_EQ(offsetof(Table, HasProperty), slot(11));
  EXPECT_EQ(offsetof(Table, SetPropertyData), slot(15));
  EXPECT_EQ(offsetof(Table, StartIO), slot(16));
  EXPECT_EQ(offsetof(Table, GetZeroTimeStamp), slot(18));
  EXPECT_EQ(offsetof(Table, DoIOOperation), slot(21));
  EXPECT_EQ(offsetof(Table, EndIOOperation), slot(22));

  using Host = AudioServerPlugInHostInterface;
  EXPECT_EQ(sizeof(Host), slot(5));
  EXPECT_EQ(offsetof(Host, PropertiesChanged), slot(0));
  EXPECT_EQ(offsetof(Host, RequestDeviceConfigurationChange), slot(4));

  EXPECT_EQ(sizeof(AudioObjectPropertyAddress), 12u);
  EXPECT_EQ(sizeof(AudioStreamBasicDescription), 40u);
  EXPECT_EQ(sizeof(AudioValueRange), 16u);
  EXPECT_EQ(sizeof(AudioStreamRangedDescription), 56u);
  EXPECT_EQ(sizeof(AudioChannelDescription), 20u);
  EXPECT_EQ(offsetof(AudioChannelLayout, mChannelDescriptions), 12u);
  EXPECT_EQ(sizeof(SMPTETime), 24u);
  EXPECT_EQ(sizeof(AudioTimeStamp), 64u);
  EXPECT_EQ(offsetof(AudioServerPlugInIOCycleInfo, mCurrentTime), 16u);
  EXPECT_EQ(offsetof(AudioServerPlugInIOCycleInfo, mInputTime), 80u);
  EXPECT_EQ(offsetof(AudioServerPlugInIOCycleInfo, mOutputTime), 144u);
  EXPECT_EQ(sizeof(AudioServerPlugInIOCycleInfo), 224u);
  EXPECT_EQ(offsetof(AudioServerPlugInClientInfo, mBundleID), 16u);
}

}  // namespace
}  // namespace oskel::driver_test
