/* Properties of the two loopback devices, and the one settable: the nominal rate. */
#include <stddef.h>

#include "OskelAudioDriver.h"
#include "PropertyValue.h"

enum {
  kTwoChannelLayoutSize = offsetof(AudioChannelLayout, mChannelDescriptions) + 2 * sizeof(AudioChannelDescription),
};
_Static_assert((size_t)kTwoChannelLayoutSize <= (size_t)kMaxPropertyValueSize, "layout fits the staging buffer");

static Boolean IsDirectionalScope(AudioObjectPropertyScope scope) {
  return scope == kAudioObjectPropertyScopeInput || scope == kAudioObjectPropertyScopeOutput;
}

Boolean Device_PropertyShape(const AudioObjectPropertyAddress* address, PropertyShape* shape) {
  switch (address->mSelector) {
    case kAudioObjectPropertyBaseClass:
    case kAudioObjectPropertyClass:
    case kAudioObjectPropertyOwner:
    case kAudioDevicePropertyTransportType:
    case kAudioDevicePropertyClockDomain:
    case kAudioDevicePropertyDeviceIsAlive:
    case kAudioDevicePropertyDeviceIsRunning:
    case kAudioDevicePropertyIsHidden:
    case kAudioDevicePropertyZeroTimeStampPeriod:
    case kAudioDevicePropertyDeviceCanBeDefaultDevice:
    case kAudioDevicePropertyDeviceCanBeDefaultSystemDevice:
    case kAudioDevicePropertyLatency:
    case kAudioDevicePropertySafetyOffset:
      *shape = (PropertyShape){sizeof(UInt32), 0};
      return 1;
    case kAudioObjectPropertyName:
    case kAudioObjectPropertyManufacturer:
    case kAudioDevicePropertyDeviceUID:
    case kAudioDevicePropertyModelUID:
    case kAudioDevicePropertyIcon:
      *shape = (PropertyShape){sizeof(CFTypeRef), 0};
      return 1;
    case kAudioObjectPropertyOwnedObjects:
    case kAudioDevicePropertyStreams: {
      UInt32 streams = IsDirectionalScope(address->mScope) ? 1 : 2;
      *shape = (PropertyShape){streams * sizeof(AudioObjectID), sizeof(AudioObjectID)};
      return 1;
    }
    case kAudioObjectPropertyControlList:
      *shape = (PropertyShape){0, sizeof(AudioObjectID)};
      return 1;
    case kAudioDevicePropertyRelatedDevices:
      *shape = (PropertyShape){sizeof(AudioObjectID), sizeof(AudioObjectID)};
      return 1;
    case kAudioDevicePropertyNominalSampleRate:
      *shape = (PropertyShape){sizeof(Float64), 0};
      return 1;
    case kAudioDevicePropertyAvailableNominalSampleRates:
      *shape = (PropertyShape){kSupportedSampleRateCount * sizeof(AudioValueRange), sizeof(AudioValueRange)};
      return 1;
    case kAudioDevicePropertyPreferredChannelsForStereo:
      *shape = (PropertyShape){2 * sizeof(UInt32), 0};
      return 1;
    case kAudioDevicePropertyPreferredChannelLayout:
      *shape = (PropertyShape){kTwoChannelLayoutSize, 0};
      return 1;
    default:
      return 0;
  }
}

Boolean Device_HasProperty(const AudioObjectPropertyAddress* address) {
  PropertyShape shape;
  if (!Device_PropertyShape(address, &shape)) return 0;
  switch (address->mSelector) {
    case kAudioDevicePropertyDeviceCanBeDefaultDevice:
    case kAudioDevicePropertyDeviceCanBeDefaultSystemDevice:
    case kAudioDevicePropertyLatency:
    case kAudioDevicePropertySafetyOffset:
    case kAudioDevicePropertyPreferredChannelsForStereo:
    case kAudioDevicePropertyPreferredChannelLayout:
      return IsDirectionalScope(address->mScope);
    default:
      return 1;
  }
}

CFURLRef CopyDeviceIconURL(void) {
  CFBundleRef bundle = CFBundleGetBundleWithIdentifier(CFSTR(kBundleIdentifier));
  if (bundle == NULL) return NULL;
  return CFBundleCopyResourceURL(bundle, CFSTR("DeviceIcon"), CFSTR("icns"), NULL);
}

static void PutStreams(void* value, const LoopbackDevice* device, AudioObjectPropertyScope scope) {
  if (scope == kAudioObjectPropertyScopeInput)
    PutUInt32(value, device->inputStreamID);
  else if (scope == kAudioObjectPropertyScopeOutput)
    PutUInt32(value, device->outputStreamID);
  else
    PutUInt32Pair(value, device->inputStreamID, device->outputStreamID);
}

static void PutStereoLayout(void* value) {
  AudioChannelLayout header = {kAudioChannelLayoutTag_UseChannelDescriptions, 0, 2, {{0, 0, {0, 0, 0}}}};
  const AudioChannelDescription channels[2] = {{kAudioChannelLabel_Left, 0, {0, 0, 0}},
                                               {kAudioChannelLabel_Right, 0, {0, 0, 0}}};
  const size_t descriptionsOffset = offsetof(AudioChannelLayout, mChannelDescriptions);
  memcpy(value, &header, descriptionsOffset);
  memcpy((UInt8*)value + descriptionsOffset, channels, sizeof channels);
}

OSStatus Device_PropertyValue(LoopbackDevice* device, const AudioObjectPropertyAddress* address, void* value) {
  switch (address->mSelector) {
    case kAudioObjectPropertyBaseClass:
      PutUInt32(value, kAudioObjectClassID);
      break;
    case kAudioObjectPropertyClass:
      PutUInt32(value, kAudioDeviceClassID);
      break;
    case kAudioObjectPropertyOwner:
      PutUInt32(value, kPlugInObjectID);
      break;
    case kAudioObjectPropertyName:
      return PutNewString(value, device->name);
    case kAudioObjectPropertyManufacturer:
      return PutNewString(value, kManufacturerName);
    case kAudioObjectPropertyOwnedObjects:
    case kAudioDevicePropertyStreams:
      PutStreams(value, device, address->mScope);
      break;
    case kAudioObjectPropertyControlList:
      break;
    case kAudioDevicePropertyDeviceUID:
      return PutNewString(value, device->uid);
    case kAudioDevicePropertyModelUID:
      return PutNewString(value, device->modelUID);
    case kAudioDevicePropertyTransportType:
      PutUInt32(value, kAudioDeviceTransportTypeVirtual);
      break;
    case kAudioDevicePropertyRelatedDevices:
      PutUInt32(value, device->deviceID);
      break;
    case kAudioDevicePropertyClockDomain:
      PutUInt32(value, 0);
      break;
    case kAudioDevicePropertyDeviceIsAlive:
      PutUInt32(value, 1);
      break;
    case kAudioDevicePropertyDeviceIsRunning: {
      pthread_mutex_lock(&gStateMutex);
      UInt32 running = device->ioRunningCount > 0;
      pthread_mutex_unlock(&gStateMutex);
      PutUInt32(value, running);
      break;
    }
    case kAudioDevicePropertyIsHidden:
      PutUInt32(value, 0);
      break;
    case kAudioDevicePropertyIcon: {
      CFURLRef icon = CopyDeviceIconURL();
      if (icon == NULL) return kAudioHardwareUnspecifiedError;
      PutObject(value, icon);
      break;
    }
    case kAudioDevicePropertyNominalSampleRate: {
      pthread_mutex_lock(&gStateMutex);
      Float64 rate = device->sampleRate;
      pthread_mutex_unlock(&gStateMutex);
      PutFloat64(value, rate);
      break;
    }
    case kAudioDevicePropertyAvailableNominalSampleRates:
      for (int i = 0; i < kSupportedSampleRateCount; ++i) {
        const AudioValueRange range = {kSupportedSampleRates[i], kSupportedSampleRates[i]};
        memcpy((UInt8*)value + (size_t)i * sizeof range, &range, sizeof range);
      }
      break;
    case kAudioDevicePropertyZeroTimeStampPeriod:
      PutUInt32(value, kZeroTimeStampPeriod);
      break;
    case kAudioDevicePropertyDeviceCanBeDefaultDevice:
      PutUInt32(value, 1);
      break;
    case kAudioDevicePropertyDeviceCanBeDefaultSystemDevice:
      /* Alert sounds must never go into a call. */
      PutUInt32(value, address->mScope == kAudioObjectPropertyScopeOutput ? 0 : 1);
      break;
    case kAudioDevicePropertyLatency:
    case kAudioDevicePropertySafetyOffset:
      PutUInt32(value, 0);
      break;
    case kAudioDevicePropertyPreferredChannelsForStereo:
      PutUInt32Pair(value, 1, 2);
      break;
    case kAudioDevicePropertyPreferredChannelLayout:
      PutStereoLayout(value);
      break;
    default:
      return kAudioHardwareUnknownPropertyError;
  }
  return kAudioHardwareNoError;
}

OSStatus Device_SetPropertyData(LoopbackDevice* device, const AudioObjectPropertyAddress* address, UInt32 dataSize,
                                const void* data) {
  if (address->mSelector == kAudioDevicePropertyNominalSampleRate) {
    if (dataSize != sizeof(Float64)) return kAudioHardwareBadPropertySizeError;
    Float64 rate;
    memcpy(&rate, data, sizeof rate);
    if (!IsSupportedSampleRate(rate)) return kAudioHardwareIllegalOperationError;
    RequestSampleRateChange(device, rate);
    NotifyPropertyChanged(device->deviceID, kAudioDevicePropertyNominalSampleRate);
    return kAudioHardwareNoError;
  }
  return kAudioHardwareIllegalOperationError;
}
