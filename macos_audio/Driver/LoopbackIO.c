/*
 * The real-time half: IO start and stop counting, the device clock derived
 * from the host clock, and the lap-tagged loopback ring. DoIOOperation runs
 * on the audio server's IO thread; it takes no lock, allocates nothing and
 * makes no system call except the occasional position log line.
 */
#include <string.h>

#include "OskelAudioDriver.h"

/* 2^64 as a double: the first value that no longer fits an unsigned 64-bit integer. */
#define kUInt64Limit 18446744073709551616.0

static UInt64 SaturatingUInt64(Float64 value) {
  if (!(value >= 0.0)) return 0;
  return value < kUInt64Limit ? (UInt64)value : UINT64_MAX;
}

/* ---- IO start and stop ---- */

OSStatus OskelAudio_StartIO(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID, UInt32 inClientID) {
  (void)inClientID;
  LoopbackDevice* device = DeviceForCall(inDriver, inDeviceObjectID);
  if (device == NULL) return kAudioHardwareBadObjectError;

  OSStatus status = kAudioHardwareNoError;
  pthread_mutex_lock(&gStateMutex);
  if (device->ioRunningCount == UINT64_MAX) {
    status = kAudioHardwareIllegalOperationError;
  } else if (device->ioRunningCount > 0) {
    ++device->ioRunningCount;
    os_log(DRIVER_LOG, "OskelAudio: %{public}s: IO client joined (now %llu running)", device->name,
           (unsigned long long)device->ioRunningCount);
  } else {
    device->ioRunningCount = 1;
    /* The first client starts a fresh clock and must not hear a previous session. */
    pthread_mutex_lock(&device->timingMutex);
    device->periodCount = 0;
    device->anchorHostTime = mach_absolute_time();
    ClearRing(device);
    pthread_mutex_unlock(&device->timingMutex);
    os_log(DRIVER_LOG, "OskelAudio: %{public}s: IO started", device->name);
  }
  pthread_mutex_unlock(&gStateMutex);
  return status;
}

OSStatus OskelAudio_StopIO(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID, UInt32 inClientID) {
  (void)inClientID;
  LoopbackDevice* device = DeviceForCall(inDriver, inDeviceObjectID);
  if (device == NULL) return kAudioHardwareBadObjectError;

  OSStatus status = kAudioHardwareNoError;
  pthread_mutex_lock(&gStateMutex);
  if (device->ioRunningCount == 0) {
    status = kAudioHardwareIllegalOperationError;
  } else if (--device->ioRunningCount == 0) {
    os_log(DRIVER_LOG, "OskelAudio: %{public}s: IO stopped", device->name);
  } else {
    os_log(DRIVER_LOG, "OskelAudio: %{public}s: IO client left (now %llu running)", device->name,
           (unsigned long long)device->ioRunningCount);
  }
  pthread_mutex_unlock(&gStateMutex);
  return status;
}

/* ---- clock ---- */

OSStatus OskelAudio_GetZeroTimeStamp(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                     UInt32 inClientID, Float64* outSampleTime, UInt64* outHostTime,
                                     UInt64* outSeed) {
  (void)inClientID;
  LoopbackDevice* device = DeviceForCall(inDriver, inDeviceObjectID);
  if (device == NULL) return kAudioHardwareBadObjectError;
  if (outSampleTime == NULL || outHostTime == NULL || outSeed == NULL) return kAudioHardwareIllegalOperationError;

  pthread_mutex_lock(&device->timingMutex);
  const UInt64 now = mach_absolute_time();
  const Float64 ticksPerPeriod = device->hostTicksPerFrame * kZeroTimeStampPeriod;
  UInt64 periods = 0;
  /* Without a timebase (before Initialize) the clock stands still rather than dividing by zero. */
  if (now > device->anchorHostTime && ticksPerPeriod > 0.0)
    periods = SaturatingUInt64((Float64)(now - device->anchorHostTime) / ticksPerPeriod);
  const UInt64 skipped = periods > device->periodCount ? periods - device->periodCount : 0;
  if (periods > device->periodCount) device->periodCount = periods;
  *outSampleTime = (Float64)device->periodCount * kZeroTimeStampPeriod;
  *outHostTime = device->anchorHostTime + SaturatingUInt64(ticksPerPeriod * (Float64)device->periodCount);
  *outSeed = 1;
  pthread_mutex_unlock(&device->timingMutex);

  if (skipped > kClockJumpLogThreshold)
    os_log(DRIVER_LOG, "OskelAudio: %{public}s: clock jumped forward %llu periods (sleep/wake with IO held open)",
           device->name, (unsigned long long)skipped);
  return kAudioHardwareNoError;
}

/* ---- IO operations ---- */

OSStatus OskelAudio_WillDoIOOperation(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                      UInt32 inClientID, UInt32 inOperationID, Boolean* outWillDo,
                                      Boolean* outWillDoInPlace) {
  (void)inClientID;
  if (DeviceForCall(inDriver, inDeviceObjectID) == NULL) return kAudioHardwareBadObjectError;
  if (outWillDo != NULL)
    *outWillDo = inOperationID == kAudioServerPlugInIOOperationReadInput ||
                 inOperationID == kAudioServerPlugInIOOperationWriteMix;
  if (outWillDoInPlace != NULL) *outWillDoInPlace = 1;
  return kAudioHardwareNoError;
}

OSStatus OskelAudio_BeginIOOperation(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                     UInt32 inClientID, UInt32 inOperationID, UInt32 inIOBufferFrameSize,
                                     const AudioServerPlugInIOCycleInfo* inIOCycleInfo) {
  (void)inClientID;
  (void)inOperationID;
  (void)inIOBufferFrameSize;
  (void)inIOCycleInfo;
  return DeviceForCall(inDriver, inDeviceObjectID) != NULL ? kAudioHardwareNoError : kAudioHardwareBadObjectError;
}

OSStatus OskelAudio_EndIOOperation(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                   UInt32 inClientID, UInt32 inOperationID, UInt32 inIOBufferFrameSize,
                                   const AudioServerPlugInIOCycleInfo* inIOCycleInfo) {
  return OskelAudio_BeginIOOperation(inDriver, inDeviceObjectID, inClientID, inOperationID, inIOBufferFrameSize,
                                     inIOCycleInfo);
}

/* A cycle time the ring can address: not negative, not NaN, within 64 bits. */
static Boolean IsRingTime(Float64 sampleTime) { return sampleTime >= 0.0 && sampleTime < kUInt64Limit; }

OSStatus OskelAudio_DoIOOperation(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                  AudioObjectID inStreamObjectID, UInt32 inClientID, UInt32 inOperationID,
                                  UInt32 inIOBufferFrameSize, const AudioServerPlugInIOCycleInfo* inIOCycleInfo,
                                  void* ioMainBuffer, void* ioSecondaryBuffer) {
  (void)inClientID;
  (void)ioSecondaryBuffer;
  LoopbackDevice* device = DeviceForCall(inDriver, inDeviceObjectID);
  if (device == NULL) return kAudioHardwareBadObjectError;
  if (inIOCycleInfo == NULL || ioMainBuffer == NULL) return kAudioHardwareIllegalOperationError;

  if (inOperationID == kAudioServerPlugInIOOperationWriteMix && inStreamObjectID == device->outputStreamID) {
    const Float64 sampleTime = inIOCycleInfo->mOutputTime.mSampleTime;
    if (device->ring != NULL && IsRingTime(sampleTime)) {
      const UInt64 position = (UInt64)sampleTime;
      DiagLogPosition(device, &device->lastWriteLogFrame, "write", position);
      RingWrite(device, position, ioMainBuffer, inIOBufferFrameSize);
    }
    return kAudioHardwareNoError;
  }
  if (inOperationID == kAudioServerPlugInIOOperationReadInput && inStreamObjectID == device->inputStreamID) {
    const Float64 sampleTime = inIOCycleInfo->mInputTime.mSampleTime;
    if (device->ring != NULL && IsRingTime(sampleTime)) {
      const UInt64 position = (UInt64)sampleTime;
      DiagLogPosition(device, &device->lastReadLogFrame, "read", position);
      RingRead(device, position, ioMainBuffer, inIOBufferFrameSize);
    } else {
      memset(ioMainBuffer, 0, (size_t)inIOBufferFrameSize * kRingChannels * sizeof(Float32));
    }
    return kAudioHardwareNoError;
  }
  return kAudioHardwareBadObjectError;
}

/* ---- loopback ring ---- */

void ClearRing(LoopbackDevice* device) {
  if (device->ring == NULL) return;
  memset(device->ring, 0, (size_t)kRingFrames * kRingChannels * sizeof(Float32));
  /* Every byte 0xFF makes every tag -1 (kEmptyLap). */
  memset(device->ringLaps, 0xFF, (size_t)kRingFrames * sizeof(SInt32));
}

static inline UInt32 RingSlot(UInt64 sampleTime) { return (UInt32)(sampleTime & (kRingFrames - 1)); }

static inline SInt32 RingLap(UInt64 sampleTime) { return (SInt32)(UInt32)(sampleTime >> kRingLapShift); }

void RingWrite(LoopbackDevice* device, UInt64 startFrame, const Float32* frames, UInt32 count) {
  Float32* ring = device->ring;
  SInt32* laps = device->ringLaps;
  for (UInt32 i = 0; i < count; ++i) {
    const UInt64 sampleTime = startFrame + i;
    const UInt32 slot = RingSlot(sampleTime);
    const SInt32 lap = RingLap(sampleTime);
    Float32* stored = ring + (size_t)slot * kRingChannels;
    const Float32* frame = frames + (size_t)i * kRingChannels;
    if (laps[slot] == lap) {
      /* A second writer of the same sample time mixes in. */
      stored[0] += frame[0];
      stored[1] += frame[1];
    } else {
      stored[0] = frame[0];
      stored[1] = frame[1];
      laps[slot] = lap;
    }
  }
}

void RingRead(LoopbackDevice* device, UInt64 startFrame, Float32* frames, UInt32 count) {
  const Float32* ring = device->ring;
  const SInt32* laps = device->ringLaps;
  for (UInt32 i = 0; i < count; ++i) {
    const UInt64 sampleTime = startFrame + i;
    const UInt32 slot = RingSlot(sampleTime);
    Float32* frame = frames + (size_t)i * kRingChannels;
    if (laps[slot] == RingLap(sampleTime)) {
      const Float32* stored = ring + (size_t)slot * kRingChannels;
      frame[0] = stored[0];
      frame[1] = stored[1];
    } else {
      /* Nothing was written for exactly this sample time. */
      frame[0] = 0.0f;
      frame[1] = 0.0f;
    }
  }
}

void DiagLogPosition(LoopbackDevice* device, UInt64* lastPosition, const char* operationName, UInt64 position) {
  if (position >= *lastPosition && position - *lastPosition < kPositionLogInterval) return;
  *lastPosition = position;
  os_log(DRIVER_LOG, "OskelAudio: %{public}s: %{public}s at frame %llu (lap %u)", device->name, operationName,
         (unsigned long long)position, (unsigned)(UInt32)(position >> kRingLapShift));
}
