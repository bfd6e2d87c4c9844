/*
 * Shared state of the OskelAudio driver: the two loopback devices, the
 * process-wide globals, and the internal operations the entry points share.
 * The audio server only ever sees the function table handed out by
 * OskelAudio_Create.
 */
#ifndef OSKEL_AUDIO_DRIVER_H
#define OSKEL_AUDIO_DRIVER_H

#include "compat/OskelAudioCompat.h"

#define OSKEL_AUDIO_EXPORT __attribute__((visibility("default")))
#define OSKEL_AUDIO_INTERNAL __attribute__((visibility("hidden")))

enum {
  kPlugInObjectID = kAudioObjectPlugInObject,
  kMicrophoneDeviceID = 2,
  kMicrophoneInputStreamID = 3,
  kMicrophoneOutputStreamID = 4,
  kSpeakerDeviceID = 12,
  kSpeakerInputStreamID = 13,
  kSpeakerOutputStreamID = 14,
  kDeviceCount = 2,
};

enum {
  kRingFrames = 65536,           /* slots per loopback ring; a power of two */
  kRingLapShift = 16,            /* log2(kRingFrames) */
  kRingChannels = 2,             /* interleaved stereo */
  kZeroTimeStampPeriod = 16384,  /* frames per device clock period */
  kEmptyLap = -1,                /* lap tag of a slot holding no frame */
  kClockJumpLogThreshold = 32,   /* periods skipped before the jump is logged */
  kPositionLogInterval = 1440000 /* 30 s at 48000 Hz */
};

#define kBundleIdentifier "com.brindlework.oskelaudio"
#define kManufacturerName "Brindlework, Inc."
#define kDefaultSampleRate 48000.0
#define kSupportedSampleRateCount 2

extern const Float64 kSupportedSampleRates[kSupportedSampleRateCount] OSKEL_AUDIO_INTERNAL;

typedef struct LoopbackDevice {
  const char* name;
  const char* uid;
  const char* modelUID;
  UInt32 deviceID;
  UInt32 inputStreamID;
  UInt32 outputStreamID;
  Float64 sampleRate;          /* gStateMutex */
  UInt64 ioRunningCount;       /* gStateMutex */
  UInt8 inputStreamActive;     /* gStateMutex */
  UInt8 outputStreamActive;    /* gStateMutex */
  pthread_mutex_t timingMutex;
  Float64 hostTicksPerFrame;   /* timingMutex */
  UInt64 periodCount;          /* timingMutex */
  UInt64 anchorHostTime;       /* timingMutex */
  Float32* ring;               /* kRingFrames interleaved stereo frames */
  SInt32* ringLaps;            /* kRingFrames lap tags */
  UInt64 lastWriteLogFrame;    /* IO thread */
  UInt64 lastReadLogFrame;     /* IO thread */
} LoopbackDevice;

extern AudioServerPlugInDriverInterface gAudioServerPlugInDriverInterface OSKEL_AUDIO_INTERNAL;
extern AudioServerPlugInDriverInterface* gAudioServerPlugInDriverInterfacePtr OSKEL_AUDIO_INTERNAL;
extern pthread_mutex_t gStateMutex OSKEL_AUDIO_INTERNAL;
extern LoopbackDevice gDevices[kDeviceCount] OSKEL_AUDIO_INTERNAL;
extern os_log_t gLog OSKEL_AUDIO_INTERNAL;
extern UInt32 gPlugIn_RefCount OSKEL_AUDIO_INTERNAL;
extern AudioServerPlugInHostRef gPlugIn_Host OSKEL_AUDIO_INTERNAL;
extern Float64 gHostTicksPerSecond OSKEL_AUDIO_INTERNAL;

#define DRIVER_LOG (gLog != NULL ? gLog : OS_LOG_DEFAULT)

/* The reference handed to the host is the address of the table pointer. */
#define IS_OUR_DRIVER(ref) ((const void*)(ref) == (const void*)&gAudioServerPlugInDriverInterfacePtr)

/* ---- object lookup ---- */

typedef enum ObjectKind { kObjectNone, kObjectPlugIn, kObjectDevice, kObjectStream } ObjectKind;

typedef struct ObjectRef {
  ObjectKind kind;
  LoopbackDevice* device; /* the device, or the owner of the stream */
  Boolean isInput;        /* for streams */
} ObjectRef;

OSKEL_AUDIO_INTERNAL ObjectRef LookUpObject(AudioObjectID objectID);
/* Device IDs only: the plug-in and stream IDs give NULL. */
OSKEL_AUDIO_INTERNAL LoopbackDevice* LookUpDevice(AudioObjectID objectID);
/* The device a call is about, or NULL (kAudioHardwareBadObjectError) when the
   call is for another driver or the ID is not a device. */
OSKEL_AUDIO_INTERNAL LoopbackDevice* DeviceForCall(AudioServerPlugInDriverRef driver, AudioObjectID objectID);
OSKEL_AUDIO_INTERNAL Boolean IsSupportedSampleRate(Float64 rate);

/* ---- properties ---- */

/* Size of a property value; entrySize 0 marks a fixed-size value, otherwise
   the value is a list of size / entrySize entries that reads may cut short. */
typedef struct PropertyShape {
  UInt32 size;
  UInt32 entrySize;
} PropertyShape;

/* The largest value any property of the driver returns (two ranged stream descriptions). */
enum { kMaxPropertyValueSize = 2 * sizeof(AudioStreamRangedDescription) };

OSKEL_AUDIO_INTERNAL Boolean PlugIn_HasProperty(const AudioObjectPropertyAddress* address);
OSKEL_AUDIO_INTERNAL Boolean PlugIn_PropertyShape(AudioObjectPropertySelector selector, PropertyShape* shape);
OSKEL_AUDIO_INTERNAL OSStatus PlugIn_PropertyValue(AudioObjectPropertySelector selector, UInt32 qualifierSize,
                                                   const void* qualifier, void* value);

OSKEL_AUDIO_INTERNAL Boolean Device_HasProperty(const AudioObjectPropertyAddress* address);
OSKEL_AUDIO_INTERNAL Boolean Device_PropertyShape(const AudioObjectPropertyAddress* address, PropertyShape* shape);
OSKEL_AUDIO_INTERNAL OSStatus Device_PropertyValue(LoopbackDevice* device, const AudioObjectPropertyAddress* address,
                                                   void* value);
/* For a known selector: the nominal rate, or kAudioHardwareIllegalOperationError. */
OSKEL_AUDIO_INTERNAL OSStatus Device_SetPropertyData(LoopbackDevice* device, const AudioObjectPropertyAddress* address,
                                                     UInt32 dataSize, const void* data);

OSKEL_AUDIO_INTERNAL Boolean Stream_HasProperty(const AudioObjectPropertyAddress* address);
OSKEL_AUDIO_INTERNAL Boolean Stream_PropertyShape(AudioObjectPropertySelector selector, PropertyShape* shape);
OSKEL_AUDIO_INTERNAL OSStatus Stream_PropertyValue(LoopbackDevice* device, Boolean isInput,
                                                   AudioObjectPropertySelector selector, void* value);
/* For a known selector: a format or the active flag, or kAudioHardwareIllegalOperationError. */
OSKEL_AUDIO_INTERNAL OSStatus Stream_SetPropertyData(LoopbackDevice* device, Boolean isInput,
                                                     const AudioObjectPropertyAddress* address, UInt32 dataSize,
                                                     const void* data);

/* The one stream format, at the given rate. */
OSKEL_AUDIO_INTERNAL AudioStreamBasicDescription StreamFormat(Float64 sampleRate);
OSKEL_AUDIO_INTERNAL CFURLRef CopyDeviceIconURL(void);
/* Asks the host, from the global queue, to change the device's rate (no-op for the current rate). */
OSKEL_AUDIO_INTERNAL void RequestSampleRateChange(LoopbackDevice* device, Float64 rate);
/* Tells the host that one global-scope, main-element property of an object changed. */
OSKEL_AUDIO_INTERNAL void NotifyPropertyChanged(AudioObjectID objectID, AudioObjectPropertySelector selector);

/* ---- loopback ring ---- */

OSKEL_AUDIO_INTERNAL void ClearRing(LoopbackDevice* device);
OSKEL_AUDIO_INTERNAL void RingWrite(LoopbackDevice* device, UInt64 startFrame, const Float32* frames, UInt32 count);
OSKEL_AUDIO_INTERNAL void RingRead(LoopbackDevice* device, UInt64 startFrame, Float32* frames, UInt32 count);
OSKEL_AUDIO_INTERNAL void DiagLogPosition(LoopbackDevice* device, UInt64* lastPosition, const char* operationName,
                                          UInt64 position);

/* ---- entry points (the function table) ---- */

OSKEL_AUDIO_EXPORT void* OskelAudio_Create(CFAllocatorRef inAllocator, CFUUIDRef inRequestedTypeUUID);

OSKEL_AUDIO_INTERNAL HRESULT OskelAudio_QueryInterface(void* inDriver, REFIID inUUID, LPVOID* outInterface);
OSKEL_AUDIO_INTERNAL ULONG OskelAudio_AddRef(void* inDriver);
OSKEL_AUDIO_INTERNAL ULONG OskelAudio_Release(void* inDriver);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_Initialize(AudioServerPlugInDriverRef inDriver,
                                                    AudioServerPlugInHostRef inHost);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_CreateDevice(AudioServerPlugInDriverRef inDriver,
                                                      CFDictionaryRef inDescription,
                                                      const AudioServerPlugInClientInfo* inClientInfo,
                                                      AudioObjectID* outDeviceObjectID);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_DestroyDevice(AudioServerPlugInDriverRef inDriver,
                                                       AudioObjectID inDeviceObjectID);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_AddDeviceClient(AudioServerPlugInDriverRef inDriver,
                                                         AudioObjectID inDeviceObjectID,
                                                         const AudioServerPlugInClientInfo* inClientInfo);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_RemoveDeviceClient(AudioServerPlugInDriverRef inDriver,
                                                            AudioObjectID inDeviceObjectID,
                                                            const AudioServerPlugInClientInfo* inClientInfo);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_PerformDeviceConfigurationChange(AudioServerPlugInDriverRef inDriver,
                                                                          AudioObjectID inDeviceObjectID,
                                                                          UInt64 inChangeAction, void* inChangeInfo);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_AbortDeviceConfigurationChange(AudioServerPlugInDriverRef inDriver,
                                                                        AudioObjectID inDeviceObjectID,
                                                                        UInt64 inChangeAction, void* inChangeInfo);
OSKEL_AUDIO_INTERNAL Boolean OskelAudio_HasProperty(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                                    pid_t inClientProcessID,
                                                    const AudioObjectPropertyAddress* inAddress);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_IsPropertySettable(AudioServerPlugInDriverRef inDriver,
                                                            AudioObjectID inObjectID, pid_t inClientProcessID,
                                                            const AudioObjectPropertyAddress* inAddress,
                                                            Boolean* outIsSettable);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_GetPropertyDataSize(AudioServerPlugInDriverRef inDriver,
                                                             AudioObjectID inObjectID, pid_t inClientProcessID,
                                                             const AudioObjectPropertyAddress* inAddress,
                                                             UInt32 inQualifierDataSize, const void* inQualifierData,
                                                             UInt32* outDataSize);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_GetPropertyData(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                                         pid_t inClientProcessID,
                                                         const AudioObjectPropertyAddress* inAddress,
                                                         UInt32 inQualifierDataSize, const void* inQualifierData,
                                                         UInt32 inDataSize, UInt32* outDataSize, void* outData);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_SetPropertyData(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                                         pid_t inClientProcessID,
                                                         const AudioObjectPropertyAddress* inAddress,
                                                         UInt32 inQualifierDataSize, const void* inQualifierData,
                                                         UInt32 inDataSize, const void* inData);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_StartIO(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                                 UInt32 inClientID);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_StopIO(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                                UInt32 inClientID);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_GetZeroTimeStamp(AudioServerPlugInDriverRef inDriver,
                                                          AudioObjectID inDeviceObjectID, UInt32 inClientID,
                                                          Float64* outSampleTime, UInt64* outHostTime,
                                                          UInt64* outSeed);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_WillDoIOOperation(AudioServerPlugInDriverRef inDriver,
                                                           AudioObjectID inDeviceObjectID, UInt32 inClientID,
                                                           UInt32 inOperationID, Boolean* outWillDo,
                                                           Boolean* outWillDoInPlace);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_BeginIOOperation(AudioServerPlugInDriverRef inDriver,
                                                          AudioObjectID inDeviceObjectID, UInt32 inClientID,
                                                          UInt32 inOperationID, UInt32 inIOBufferFrameSize,
                                                          const AudioServerPlugInIOCycleInfo* inIOCycleInfo);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_DoIOOperation(AudioServerPlugInDriverRef inDriver,
                                                       AudioObjectID inDeviceObjectID, AudioObjectID inStreamObjectID,
                                                       UInt32 inClientID, UInt32 inOperationID,
                                                       UInt32 inIOBufferFrameSize,
                                                       const AudioServerPlugInIOCycleInfo* inIOCycleInfo,
                                                       void* ioMainBuffer, void* ioSecondaryBuffer);
OSKEL_AUDIO_INTERNAL OSStatus OskelAudio_EndIOOperation(AudioServerPlugInDriverRef inDriver,
                                                        AudioObjectID inDeviceObjectID, UInt32 inClientID,
                                                        UInt32 inOperationID, UInt32 inIOBufferFrameSize,
                                                        const AudioServerPlugInIOCycleInfo* inIOCycleInfo);

#endif
