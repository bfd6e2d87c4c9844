/* Properties of the four streams: one fixed format, the rate follows the device. */
#include "OskelAudioDriver.h"
#include "PropertyValue.h"

AudioStreamBasicDescription StreamFormat(Float64 sampleRate) {
  const AudioStreamBasicDescription format = {
      .mSampleRate = sampleRate,
      .mFormatID = kAudioFormatLinearPCM,
      .mFormatFlags = kAudioFormatFlagIsFloat | kAudioFormatFlagIsPacked,
      .mBytesPerPacket = kRingChannels * sizeof(Float32),
      .mFramesPerPacket = 1,
      .mBytesPerFrame = kRingChannels * sizeof(Float32),
      .mChannelsPerFrame = kRingChannels,
      .mBitsPerChannel = 8 * sizeof(Float32),
      .mReserved = 0,
  };
  return format;
}

static Boolean SameFormatIgnoringRate(const AudioStreamBasicDescription* a, const AudioStreamBasicDescription* b) {
  return a->mFormatID == b->mFormatID && a->mFormatFlags == b->mFormatFlags &&
         a->mBytesPerPacket == b->mBytesPerPacket && a->mFramesPerPacket == b->mFramesPerPacket &&
         a->mBytesPerFrame == b->mBytesPerFrame && a->mChannelsPerFrame == b->mChannelsPerFrame &&
         a->mBitsPerChannel == b->mBitsPerChannel && a->mReserved == b->mReserved;
}

static Float64 DeviceSampleRate(const LoopbackDevice* device) {
  pthread_mutex_lock(&gStateMutex);
  Float64 rate = device->sampleRate;
  pthread_mutex_unlock(&gStateMutex);
  return rate;
}

Boolean Stream_PropertyShape(AudioObjectPropertySelector selector, PropertyShape* shape) {
  switch (selector) {
    case kAudioObjectPropertyBaseClass:
    case kAudioObjectPropertyClass:
    case kAudioObjectPropertyOwner:
    case kAudioStreamPropertyIsActive:
    case kAudioStreamPropertyDirection:
    case kAudioStreamPropertyTerminalType:
    case kAudioStreamPropertyStartingChannel:
    case kAudioStreamPropertyLatency:
      *shape = (PropertyShape){sizeof(UInt32), 0};
      return 1;
    case kAudioObjectPropertyName:
      *shape = (PropertyShape){sizeof(CFStringRef), 0};
      return 1;
    case kAudioObjectPropertyOwnedObjects:
      *shape = (PropertyShape){0, sizeof(AudioObjectID)};
      return 1;
    case kAudioStreamPropertyVirtualFormat:
    case kAudioStreamPropertyPhysicalFormat:
      *shape = (PropertyShape){sizeof(AudioStreamBasicDescription), 0};
      return 1;
    case kAudioStreamPropertyAvailableVirtualFormats:
    case kAudioStreamPropertyAvailablePhysicalFormats:
      *shape = (PropertyShape){kSupportedSampleRateCount * sizeof(AudioStreamRangedDescription),
                               sizeof(AudioStreamRangedDescription)};
      return 1;
    default:
      return 0;
  }
}

Boolean Stream_HasProperty(const AudioObjectPropertyAddress* address) {
  PropertyShape shape;
  return Stream_PropertyShape(address->mSelector, &shape);
}

OSStatus Stream_PropertyValue(LoopbackDevice* device, Boolean isInput, AudioObjectPropertySelector selector,
                              void* value) {
  switch (selector) {
    case kAudioObjectPropertyBaseClass:
      PutUInt32(value, kAudioObjectClassID);
      break;
    case kAudioObjectPropertyClass:
      PutUInt32(value, kAudioStreamClassID);
      break;
    case kAudioObjectPropertyOwner:
      PutUInt32(value, device->deviceID);
      break;
    case kAudioObjectPropertyName:
      return PutNewString(value, isInput ? "Input" : "Output");
    case kAudioObjectPropertyOwnedObjects:
      break;
    case kAudioStreamPropertyIsActive: {
      pthread_mutex_lock(&gStateMutex);
      UInt32 active = isInput ? device->inputStreamActive : device->outputStreamActive;
      pthread_mutex_unlock(&gStateMutex);
      PutUInt32(value, active);
      break;
    }
    case kAudioStreamPropertyDirection:
      PutUInt32(value, isInput ? 1 : 0);
      break;
    case kAudioStreamPropertyTerminalType:
      PutUInt32(value, isInput ? kAudioStreamTerminalTypeMicrophone : kAudioStreamTerminalTypeSpeaker);
      break;
    case kAudioStreamPropertyStartingChannel:
      PutUInt32(value, 1);
      break;
    case kAudioStreamPropertyLatency:
      PutUInt32(value, 0);
      break;
    case kAudioStreamPropertyVirtualFormat:
    case kAudioStreamPropertyPhysicalFormat: {
      const AudioStreamBasicDescription format = StreamFormat(DeviceSampleRate(device));
      memcpy(value, &format, sizeof format);
      break;
    }
    case kAudioStreamPropertyAvailableVirtualFormats:
    case kAudioStreamPropertyAvailablePhysicalFormats:
      for (int i = 0; i < kSupportedSampleRateCount; ++i) {
        const AudioStreamRangedDescription ranged = {StreamFormat(kSupportedSampleRates[i]),
                                                     {kSupportedSampleRates[i], kSupportedSampleRates[i]}};
        memcpy((UInt8*)value + (size_t)i * sizeof ranged, &ranged, sizeof ranged);
      }
      break;
    default:
      return kAudioHardwareUnknownPropertyError;
  }
  return kAudioHardwareNoError;
}

static OSStatus SetStreamFormat(LoopbackDevice* device, UInt32 dataSize, const void* data) {
  if (dataSize != sizeof(AudioStreamBasicDescription)) return kAudioHardwareBadPropertySizeError;
  AudioStreamBasicDescription requested;
  memcpy(&requested, data, sizeof requested);
  const AudioStreamBasicDescription supported = StreamFormat(requested.mSampleRate);
  if (!SameFormatIgnoringRate(&requested, &supported)) return kAudioDeviceUnsupportedFormatError;
  if (!IsSupportedSampleRate(requested.mSampleRate)) return kAudioHardwareIllegalOperationError;
  RequestSampleRateChange(device, requested.mSampleRate);
  return kAudioHardwareNoError;
}

static OSStatus SetStreamActive(LoopbackDevice* device, Boolean isInput, UInt32 dataSize, const void* data) {
  if (dataSize != sizeof(UInt32)) return kAudioHardwareBadPropertySizeError;
  UInt32 requested;
  memcpy(&requested, data, sizeof requested);
  const UInt8 active = requested != 0;
  pthread_mutex_lock(&gStateMutex);
  UInt8* flag = isInput ? &device->inputStreamActive : &device->outputStreamActive;
  const Boolean changed = *flag != active;
  *flag = active;
  pthread_mutex_unlock(&gStateMutex);
  if (changed) NotifyPropertyChanged(isInput ? device->inputStreamID : device->outputStreamID,
                                     kAudioStreamPropertyIsActive);
  return kAudioHardwareNoError;
}

OSStatus Stream_SetPropertyData(LoopbackDevice* device, Boolean isInput, const AudioObjectPropertyAddress* address,
                                UInt32 dataSize, const void* data) {
  switch (address->mSelector) {
    case kAudioStreamPropertyVirtualFormat:
    case kAudioStreamPropertyPhysicalFormat:
      return SetStreamFormat(device, dataSize, data);
    case kAudioStreamPropertyIsActive:
      return SetStreamActive(device, isInput, dataSize, data);
    default:
      return kAudioHardwareIllegalOperationError;
  }
}
