/*
 * The five property entry points. They validate the call, find the object,
 * and leave the property sets and values to the plug-in, device and stream
 * files. Reads assemble the whole value first and then copy out as much as
 * the caller's buffer holds: fixed values need the full size, lists are cut
 * to whole entries.
 */
#include <string.h>

#include "OskelAudioDriver.h"

static Boolean PropertyShapeOf(ObjectRef object, const AudioObjectPropertyAddress* address, PropertyShape* shape) {
  switch (object.kind) {
    case kObjectPlugIn:
      return PlugIn_PropertyShape(address->mSelector, shape);
    case kObjectDevice:
      return Device_PropertyShape(address, shape);
    case kObjectStream:
      return Stream_PropertyShape(address->mSelector, shape);
    default:
      return 0;
  }
}

/* The checks every property call but HasProperty starts with, in order: the
   driver, the object, the caller's pointers, the selector. */
static OSStatus ResolveProperty(AudioServerPlugInDriverRef driver, AudioObjectID objectID,
                                const AudioObjectPropertyAddress* address, Boolean pointersGiven, ObjectRef* object,
                                PropertyShape* shape) {
  if (!IS_OUR_DRIVER(driver)) return kAudioHardwareBadObjectError;
  *object = LookUpObject(objectID);
  if (object->kind == kObjectNone) return kAudioHardwareBadObjectError;
  if (address == NULL || !pointersGiven) return kAudioHardwareIllegalOperationError;
  if (!PropertyShapeOf(*object, address, shape)) return kAudioHardwareUnknownPropertyError;
  return kAudioHardwareNoError;
}

static Boolean IsSettable(ObjectRef object, AudioObjectPropertySelector selector) {
  switch (object.kind) {
    case kObjectDevice:
      return selector == kAudioDevicePropertyNominalSampleRate;
    case kObjectStream:
      return selector == kAudioStreamPropertyVirtualFormat || selector == kAudioStreamPropertyPhysicalFormat ||
             selector == kAudioStreamPropertyIsActive;
    default:
      return 0;
  }
}

Boolean OskelAudio_HasProperty(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                               pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress) {
  (void)inClientProcessID;
  if (!IS_OUR_DRIVER(inDriver) || inAddress == NULL) return 0;
  switch (LookUpObject(inObjectID).kind) {
    case kObjectPlugIn:
      return PlugIn_HasProperty(inAddress);
    case kObjectDevice:
      return Device_HasProperty(inAddress);
    case kObjectStream:
      return Stream_HasProperty(inAddress);
    default:
      return 0;
  }
}

OSStatus OskelAudio_IsPropertySettable(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                       pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress,
                                       Boolean* outIsSettable) {
  (void)inClientProcessID;
  ObjectRef object;
  PropertyShape shape;
  const OSStatus status = ResolveProperty(inDriver, inObjectID, inAddress, outIsSettable != NULL, &object, &shape);
  if (status != kAudioHardwareNoError) return status;
  *outIsSettable = IsSettable(object, inAddress->mSelector);
  return kAudioHardwareNoError;
}

OSStatus OskelAudio_GetPropertyDataSize(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                        pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress,
                                        UInt32 inQualifierDataSize, const void* inQualifierData,
                                        UInt32* outDataSize) {
  (void)inClientProcessID;
  (void)inQualifierDataSize;
  (void)inQualifierData;
  ObjectRef object;
  PropertyShape shape;
  const OSStatus status = ResolveProperty(inDriver, inObjectID, inAddress, outDataSize != NULL, &object, &shape);
  if (status != kAudioHardwareNoError) return status;
  *outDataSize = shape.size;
  return kAudioHardwareNoError;
}

OSStatus OskelAudio_GetPropertyData(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                    pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress,
                                    UInt32 inQualifierDataSize, const void* inQualifierData, UInt32 inDataSize,
                                    UInt32* outDataSize, void* outData) {
  (void)inClientProcessID;
  ObjectRef object;
  PropertyShape shape;
  OSStatus status =
      ResolveProperty(inDriver, inObjectID, inAddress, outDataSize != NULL && outData != NULL, &object, &shape);
  if (status != kAudioHardwareNoError) return status;

  UInt32 size = shape.size;
  if (shape.entrySize == 0) {
    if (inDataSize < shape.size) return kAudioHardwareBadPropertySizeError;
  } else if (inDataSize < shape.size) {
    size = inDataSize / shape.entrySize * shape.entrySize;
  }

  /* Checked before any value is made: a refused read must not create a string nobody releases. */
  union {
    UInt8 bytes[kMaxPropertyValueSize];
    Float64 alignment;
    void* pointer;
  } value;
  memset(&value, 0, sizeof value);
  switch (object.kind) {
    case kObjectPlugIn:
      status = PlugIn_PropertyValue(inAddress->mSelector, inQualifierDataSize, inQualifierData, value.bytes);
      break;
    case kObjectDevice:
      status = Device_PropertyValue(object.device, inAddress, value.bytes);
      break;
    default:
      status = Stream_PropertyValue(object.device, object.isInput, inAddress->mSelector, value.bytes);
      break;
  }
  if (status != kAudioHardwareNoError) return status;
  memcpy(outData, value.bytes, size);
  *outDataSize = size;
  return kAudioHardwareNoError;
}

OSStatus OskelAudio_SetPropertyData(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                    pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress,
                                    UInt32 inQualifierDataSize, const void* inQualifierData, UInt32 inDataSize,
                                    const void* inData) {
  (void)inClientProcessID;
  (void)inQualifierDataSize;
  (void)inQualifierData;
  ObjectRef object;
  PropertyShape shape;
  const OSStatus status = ResolveProperty(inDriver, inObjectID, inAddress, inData != NULL, &object, &shape);
  if (status != kAudioHardwareNoError) return status;
  switch (object.kind) {
    case kObjectDevice:
      return Device_SetPropertyData(object.device, inAddress, inDataSize, inData);
    case kObjectStream:
      return Stream_SetPropertyData(object.device, object.isInput, inAddress, inDataSize, inData);
    default:
      /* The plug-in has nothing to set, whatever the selector. */
      return kAudioHardwareUnknownPropertyError;
  }
}
