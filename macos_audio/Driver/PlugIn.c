/*
 * The plug-in object: factory, COM entry points, initialisation, device
 * clients and the sample-rate configuration change, plus the driver's
 * globals and its function table.
 */
#include <string.h>

#include "OskelAudioDriver.h"

_Static_assert(sizeof(uintptr_t) >= 8, "a rate-change request is packed into a pointer-sized context");

const Float64 kSupportedSampleRates[kSupportedSampleRateCount] = {44100.0, 48000.0};

AudioServerPlugInDriverInterface gAudioServerPlugInDriverInterface = {
    NULL,
    OskelAudio_QueryInterface,
    OskelAudio_AddRef,
    OskelAudio_Release,
    OskelAudio_Initialize,
    OskelAudio_CreateDevice,
    OskelAudio_DestroyDevice,
    OskelAudio_AddDeviceClient,
    OskelAudio_RemoveDeviceClient,
    OskelAudio_PerformDeviceConfigurationChange,
    OskelAudio_AbortDeviceConfigurationChange,
    OskelAudio_HasProperty,
    OskelAudio_IsPropertySettable,
    OskelAudio_GetPropertyDataSize,
    OskelAudio_GetPropertyData,
    OskelAudio_SetPropertyData,
    OskelAudio_StartIO,
    OskelAudio_StopIO,
    OskelAudio_GetZeroTimeStamp,
    OskelAudio_WillDoIOOperation,
    OskelAudio_BeginIOOperation,
    OskelAudio_DoIOOperation,
    OskelAudio_EndIOOperation,
};
AudioServerPlugInDriverInterface* gAudioServerPlugInDriverInterfacePtr = &gAudioServerPlugInDriverInterface;

pthread_mutex_t gStateMutex = PTHREAD_MUTEX_INITIALIZER;

#define LOOPBACK_DEVICE(deviceName, deviceUID, model, device, input, output)                                  \
  {                                                                                                          \
    .name = deviceName, .uid = deviceUID, .modelUID = model, .deviceID = device, .inputStreamID = input,    \
    .outputStreamID = output, .sampleRate = kDefaultSampleRate, .ioRunningCount = 0, .inputStreamActive = 1, \
    .outputStreamActive = 1, .timingMutex = PTHREAD_MUTEX_INITIALIZER,                                       \
  }

LoopbackDevice gDevices[kDeviceCount] = {
    LOOPBACK_DEVICE("Oskel Microphone", "OskelMicrophone_UID", "OskelMicrophone_ModelUID", kMicrophoneDeviceID,
                    kMicrophoneInputStreamID, kMicrophoneOutputStreamID),
    LOOPBACK_DEVICE("Oskel Speaker", "OskelSpeaker_UID", "OskelSpeaker_ModelUID", kSpeakerDeviceID,
                    kSpeakerInputStreamID, kSpeakerOutputStreamID),
};

os_log_t gLog;
UInt32 gPlugIn_RefCount;
AudioServerPlugInHostRef gPlugIn_Host;
Float64 gHostTicksPerSecond;

static pthread_once_t gLogOnce = PTHREAD_ONCE_INIT;

/* ---- object lookup ---- */

ObjectRef LookUpObject(AudioObjectID objectID) {
  ObjectRef object = {kObjectNone, NULL, 0};
  if (objectID == kPlugInObjectID) {
    object.kind = kObjectPlugIn;
    return object;
  }
  for (int i = 0; i < kDeviceCount; ++i) {
    LoopbackDevice* device = &gDevices[i];
    if (objectID == device->deviceID || objectID == device->inputStreamID || objectID == device->outputStreamID) {
      object.kind = objectID == device->deviceID ? kObjectDevice : kObjectStream;
      object.device = device;
      object.isInput = objectID == device->inputStreamID;
      return object;
    }
  }
  return object;
}

LoopbackDevice* LookUpDevice(AudioObjectID objectID) {
  ObjectRef object = LookUpObject(objectID);
  return object.kind == kObjectDevice ? object.device : NULL;
}

LoopbackDevice* DeviceForCall(AudioServerPlugInDriverRef driver, AudioObjectID objectID) {
  return IS_OUR_DRIVER(driver) ? LookUpDevice(objectID) : NULL;
}

Boolean IsSupportedSampleRate(Float64 rate) {
  for (int i = 0; i < kSupportedSampleRateCount; ++i)
    if (rate == kSupportedSampleRates[i]) return 1;
  return 0;
}

/* ---- factory and COM ---- */

static void CreateLog(void) { gLog = os_log_create(kBundleIdentifier, "driver"); }

void* OskelAudio_Create(CFAllocatorRef inAllocator, CFUUIDRef inRequestedTypeUUID) {
  (void)inAllocator;
  pthread_once(&gLogOnce, CreateLog);
  if (inRequestedTypeUUID != NULL && CFEqual(inRequestedTypeUUID, kAudioServerPlugInTypeUUID)) {
    os_log(DRIVER_LOG, "OskelAudio: factory: creating driver");
    return &gAudioServerPlugInDriverInterfacePtr;
  }
  os_log_error(DRIVER_LOG, "OskelAudio: factory: unexpected type UUID requested");
  return NULL;
}

HRESULT OskelAudio_QueryInterface(void* inDriver, REFIID inUUID, LPVOID* outInterface) {
  if (!IS_OUR_DRIVER(inDriver) || outInterface == NULL) return E_POINTER;
  CFUUIDRef requested = CFUUIDCreateFromUUIDBytes(NULL, inUUID);
  if (requested == NULL) return E_NOINTERFACE;
  Boolean known = CFEqual(requested, IUnknownUUID) || CFEqual(requested, kAudioServerPlugInDriverInterfaceUUID);
  CFRelease(requested);
  if (!known) {
    *outInterface = NULL;
    return E_NOINTERFACE;
  }
  OskelAudio_AddRef(inDriver);
  *outInterface = &gAudioServerPlugInDriverInterfacePtr;
  return S_OK;
}

ULONG OskelAudio_AddRef(void* inDriver) {
  if (!IS_OUR_DRIVER(inDriver)) return 0;
  pthread_mutex_lock(&gStateMutex);
  if (gPlugIn_RefCount < UINT32_MAX) ++gPlugIn_RefCount;
  ULONG count = gPlugIn_RefCount;
  pthread_mutex_unlock(&gStateMutex);
  return count;
}

ULONG OskelAudio_Release(void* inDriver) {
  if (!IS_OUR_DRIVER(inDriver)) return 0;
  pthread_mutex_lock(&gStateMutex);
  if (gPlugIn_RefCount > 0) --gPlugIn_RefCount;
  ULONG count = gPlugIn_RefCount;
  pthread_mutex_unlock(&gStateMutex);
  return count;
}

/* ---- initialisation ---- */

/* Allocates the ring and its lap tags once; a later Initialize reuses them. */
static Boolean AllocateRing(LoopbackDevice* device) {
  if (device->ring != NULL) return 1;
  Float32* ring = OSKEL_RING_CALLOC((size_t)kRingFrames * kRingChannels, sizeof(Float32));
  SInt32* laps = OSKEL_RING_CALLOC(kRingFrames, sizeof(SInt32));
  if (ring == NULL || laps == NULL) {
    /* Both or neither: the IO path only checks the ring. */
    free(ring);
    free(laps);
    return 0;
  }
  device->ring = ring;
  device->ringLaps = laps;
  return 1;
}

OSStatus OskelAudio_Initialize(AudioServerPlugInDriverRef inDriver, AudioServerPlugInHostRef inHost) {
  if (!IS_OUR_DRIVER(inDriver)) return kAudioHardwareBadObjectError;
  if (inHost == NULL) return kAudioHardwareIllegalOperationError;
  gPlugIn_Host = inHost;

  mach_timebase_info_data_t timebase = {0, 0};
  mach_timebase_info(&timebase);
  if (timebase.numer == 0 || timebase.denom == 0) timebase.numer = timebase.denom = 1;
  gHostTicksPerSecond = 1e9 * (Float64)timebase.denom / (Float64)timebase.numer;

  for (int i = 0; i < kDeviceCount; ++i) {
    LoopbackDevice* device = &gDevices[i];
    pthread_mutex_lock(&gStateMutex);
    device->sampleRate = kDefaultSampleRate;
    pthread_mutex_unlock(&gStateMutex);

    pthread_mutex_lock(&device->timingMutex);
    device->hostTicksPerFrame = gHostTicksPerSecond / kDefaultSampleRate;
    device->periodCount = 0;
    device->anchorHostTime = mach_absolute_time();
    Boolean allocated = AllocateRing(device);
    ClearRing(device);
    pthread_mutex_unlock(&device->timingMutex);

    if (!allocated) {
      os_log_error(DRIVER_LOG, "OskelAudio: initialize: out of memory allocating loopback ring for %{public}s",
                   device->name);
      return kAudioHardwareUnspecifiedError;
    }
    os_log(DRIVER_LOG, "OskelAudio: initialize: device %{public}s id=%u in=%u out=%u", device->name,
           (unsigned)device->deviceID, (unsigned)device->inputStreamID, (unsigned)device->outputStreamID);
  }
  return kAudioHardwareNoError;
}

OSStatus OskelAudio_CreateDevice(AudioServerPlugInDriverRef inDriver, CFDictionaryRef inDescription,
                                 const AudioServerPlugInClientInfo* inClientInfo, AudioObjectID* outDeviceObjectID) {
  (void)inDescription;
  (void)inClientInfo;
  (void)outDeviceObjectID;
  return IS_OUR_DRIVER(inDriver) ? kAudioHardwareUnsupportedOperationError : kAudioHardwareBadObjectError;
}

OSStatus OskelAudio_DestroyDevice(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID) {
  (void)inDeviceObjectID;
  return IS_OUR_DRIVER(inDriver) ? kAudioHardwareUnsupportedOperationError : kAudioHardwareBadObjectError;
}

/* ---- clients ---- */

OSStatus OskelAudio_AddDeviceClient(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                    const AudioServerPlugInClientInfo* inClientInfo) {
  LoopbackDevice* device = DeviceForCall(inDriver, inDeviceObjectID);
  if (device == NULL) return kAudioHardwareBadObjectError;
  if (inClientInfo != NULL) {
    char bundleID[256] = "?";
    if (inClientInfo->mBundleID != NULL &&
        !CFStringGetCString(inClientInfo->mBundleID, bundleID, sizeof bundleID, kCFStringEncodingUTF8))
      strcpy(bundleID, "?");
    os_log(DRIVER_LOG, "OskelAudio: client added to %{public}s: pid=%d bundle=%{public}s", device->name,
           (int)inClientInfo->mProcessID, bundleID);
  }
  return kAudioHardwareNoError;
}

OSStatus OskelAudio_RemoveDeviceClient(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                       const AudioServerPlugInClientInfo* inClientInfo) {
  LoopbackDevice* device = DeviceForCall(inDriver, inDeviceObjectID);
  if (device == NULL) return kAudioHardwareBadObjectError;
  if (inClientInfo != NULL)
    os_log(DRIVER_LOG, "OskelAudio: client removed from %{public}s: pid=%d", device->name,
           (int)inClientInfo->mProcessID);
  return kAudioHardwareNoError;
}

/* ---- sample-rate change through the host's configuration-change protocol ---- */

static void SendSampleRateChangeRequest(void* context) {
  uintptr_t packed = (uintptr_t)context;
  AudioObjectID deviceID = (AudioObjectID)(packed & 0xFFFFFFFFu);
  UInt64 action = (UInt64)packed >> 32;
  AudioServerPlugInHostRef host = gPlugIn_Host;
  if (host != NULL && host->RequestDeviceConfigurationChange != NULL)
    host->RequestDeviceConfigurationChange(host, deviceID, action, NULL);
}

void RequestSampleRateChange(LoopbackDevice* device, Float64 rate) {
  pthread_mutex_lock(&gStateMutex);
  Float64 current = device->sampleRate;
  pthread_mutex_unlock(&gStateMutex);
  if (current == rate) return;
  /* The host must not be called back from inside the property call that asked. */
  UInt64 action = (UInt64)rate;
  void* context = (void*)(uintptr_t)((action << 32) | device->deviceID);
  dispatch_async_f(dispatch_get_global_queue(DISPATCH_QUEUE_PRIORITY_DEFAULT, 0), context,
                   SendSampleRateChangeRequest);
}

OSStatus OskelAudio_PerformDeviceConfigurationChange(AudioServerPlugInDriverRef inDriver,
                                                     AudioObjectID inDeviceObjectID, UInt64 inChangeAction,
                                                     void* inChangeInfo) {
  (void)inChangeInfo;
  LoopbackDevice* device = DeviceForCall(inDriver, inDeviceObjectID);
  if (device == NULL) return kAudioHardwareBadObjectError;
  if (inChangeAction != 48000 && inChangeAction != 44100) return kAudioHardwareBadObjectError;
  Float64 rate = (Float64)inChangeAction;

  pthread_mutex_lock(&gStateMutex);
  device->sampleRate = rate;
  pthread_mutex_unlock(&gStateMutex);

  /* Frames at the old rate mean nothing at the new one. */
  pthread_mutex_lock(&device->timingMutex);
  device->hostTicksPerFrame = gHostTicksPerSecond / rate;
  ClearRing(device);
  pthread_mutex_unlock(&device->timingMutex);

  os_log(DRIVER_LOG, "OskelAudio: %{public}s: sample rate changed to %.0f", device->name, rate);
  return kAudioHardwareNoError;
}

OSStatus OskelAudio_AbortDeviceConfigurationChange(AudioServerPlugInDriverRef inDriver,
                                                   AudioObjectID inDeviceObjectID, UInt64 inChangeAction,
                                                   void* inChangeInfo) {
  (void)inChangeAction;
  (void)inChangeInfo;
  return DeviceForCall(inDriver, inDeviceObjectID) != NULL ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

void NotifyPropertyChanged(AudioObjectID objectID, AudioObjectPropertySelector selector) {
  AudioServerPlugInHostRef host = gPlugIn_Host;
  if (host == NULL || host->PropertiesChanged == NULL) return;
  AudioObjectPropertyAddress address = {selector, kAudioObjectPropertyScopeGlobal, kAudioObjectPropertyElementMain};
  host->PropertiesChanged(host, objectID, 1, &address);
}
