/*
 * Writers for property values. Values are assembled in a staging buffer with
 * no alignment promise, so every store is a byte copy.
 */
#ifndef OSKEL_AUDIO_PROPERTY_VALUE_H
#define OSKEL_AUDIO_PROPERTY_VALUE_H

#include <string.h>

#include "OskelAudioDriver.h"

static inline void PutUInt32(void* value, UInt32 number) { memcpy(value, &number, sizeof number); }

static inline void PutUInt32Pair(void* value, UInt32 first, UInt32 second) {
  PutUInt32(value, first);
  PutUInt32((UInt8*)value + sizeof(UInt32), second);
}

static inline void PutFloat64(void* value, Float64 number) { memcpy(value, &number, sizeof number); }

static inline void PutObject(void* value, CFTypeRef object) { memcpy(value, &object, sizeof object); }

/* A new CFString of a C string, or kAudioHardwareUnspecifiedError when out of memory. */
static inline OSStatus PutNewString(void* value, const char* text) {
  CFStringRef string = CFStringCreateWithCString(NULL, text, kCFStringEncodingUTF8);
  if (string == NULL) return kAudioHardwareUnspecifiedError;
  PutObject(value, string);
  return kAudioHardwareNoError;
}

#endif
