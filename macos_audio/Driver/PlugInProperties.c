/* Properties of the plug-in object: identity, its two devices, UID lookup. */
#include "OskelAudioDriver.h"
#include "PropertyValue.h"

Boolean PlugIn_PropertyShape(AudioObjectPropertySelector selector, PropertyShape* shape) {
  switch (selector) {
    case kAudioObjectPropertyBaseClass:
    case kAudioObjectPropertyClass:
    case kAudioObjectPropertyOwner:
    case kAudioPlugInPropertyTranslateUIDToDevice:
      *shape = (PropertyShape){sizeof(UInt32), 0};
      return 1;
    case kAudioObjectPropertyManufacturer:
    case kAudioPlugInPropertyResourceBundle:
      *shape = (PropertyShape){sizeof(CFStringRef), 0};
      return 1;
    case kAudioObjectPropertyOwnedObjects:
    case kAudioPlugInPropertyDeviceList:
      *shape = (PropertyShape){kDeviceCount * sizeof(AudioObjectID), sizeof(AudioObjectID)};
      return 1;
    default:
      return 0;
  }
}

Boolean PlugIn_HasProperty(const AudioObjectPropertyAddress* address) {
  PropertyShape shape;
  return PlugIn_PropertyShape(address->mSelector, &shape);
}

/* The device whose UID equals the string exactly, or kAudioObjectUnknown. */
static AudioObjectID TranslateUIDToDevice(CFStringRef uid) {
  if (uid == NULL || CFGetTypeID(uid) != CFStringGetTypeID()) return kAudioObjectUnknown;
  AudioObjectID found = kAudioObjectUnknown;
  for (int i = 0; i < kDeviceCount && found == kAudioObjectUnknown; ++i) {
    CFStringRef candidate = CFStringCreateWithCString(NULL, gDevices[i].uid, kCFStringEncodingUTF8);
    if (candidate == NULL) continue;
    if (CFStringCompare(uid, candidate, 0) == kCFCompareEqualTo) found = gDevices[i].deviceID;
    CFRelease(candidate);
  }
  return found;
}

OSStatus PlugIn_PropertyValue(AudioObjectPropertySelector selector, UInt32 qualifierSize, const void* qualifier,
                              void* value) {
  switch (selector) {
    case kAudioObjectPropertyBaseClass:
      PutUInt32(value, kAudioObjectClassID);
      return kAudioHardwareNoError;
    case kAudioObjectPropertyClass:
      PutUInt32(value, kAudioPlugInClassID);
      return kAudioHardwareNoError;
    case kAudioObjectPropertyOwner:
      PutUInt32(value, kAudioObjectUnknown);
      return kAudioHardwareNoError;
    case kAudioObjectPropertyManufacturer:
      return PutNewString(value, kManufacturerName);
    case kAudioObjectPropertyOwnedObjects:
    case kAudioPlugInPropertyDeviceList:
      PutUInt32Pair(value, gDevices[0].deviceID, gDevices[1].deviceID);
      return kAudioHardwareNoError;
    case kAudioPlugInPropertyResourceBundle:
      /* Empty path: the plug-in's own bundle. */
      PutObject(value, CFSTR(""));
      return kAudioHardwareNoError;
    case kAudioPlugInPropertyTranslateUIDToDevice: {
      if (qualifier == NULL) return kAudioHardwareIllegalOperationError;
      if (qualifierSize != sizeof(CFStringRef)) return kAudioHardwareBadPropertySizeError;
      CFStringRef uid;
      memcpy(&uid, qualifier, sizeof uid);
      PutUInt32(value, TranslateUIDToDevice(uid));
      return kAudioHardwareNoError;
    }
    default:
      return kAudioHardwareUnknownPropertyError;
  }
}
