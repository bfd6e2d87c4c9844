/*
 * The part of CoreAudio's AudioServerPlugIn interface the driver uses: object
 * and property constants, the structures that cross the interface, the COM
 * glue, and the host and driver function tables. Values and layouts are the
 * public CoreAudio ones; only what the driver touches is declared. Never
 * included on Apple platforms.
 */
#ifndef OSKEL_COMPAT_COREAUDIO_PLUGIN_LITE_H
#define OSKEL_COMPAT_COREAUDIO_PLUGIN_LITE_H

#include <stddef.h>
#include <sys/types.h>

#include "compat/CoreFoundationLite.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- COM glue (CFPlugInCOM) ---- */

typedef SInt32 HRESULT;
typedef UInt32 ULONG;
typedef void* LPVOID;
typedef CFUUIDBytes REFIID;

#define S_OK 0
#define E_NOINTERFACE ((HRESULT)0x80000004)
#define E_POINTER ((HRESULT)0x80000005)

#define IUnknownUUID                                                                                        \
  CFUUIDGetConstantUUIDWithBytes(NULL, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x00, 0x00, \
                                 0x00, 0x00, 0x00, 0x00, 0x46)

/* ---- object model ---- */

typedef UInt32 AudioObjectID;
typedef UInt32 AudioClassID;
typedef UInt32 AudioObjectPropertySelector;
typedef UInt32 AudioObjectPropertyScope;
typedef UInt32 AudioObjectPropertyElement;

typedef struct AudioObjectPropertyAddress {
  AudioObjectPropertySelector mSelector;
  AudioObjectPropertyScope mScope;
  AudioObjectPropertyElement mElement;
} AudioObjectPropertyAddress;

enum {
  kAudioObjectUnknown = 0,
  kAudioObjectPlugInObject = 1,
};

enum {
  kAudioObjectClassID = 0x616f626a,  /* 'aobj' */
  kAudioPlugInClassID = 0x61706c67,  /* 'aplg' */
  kAudioDeviceClassID = 0x61646576,  /* 'adev' */
  kAudioStreamClassID = 0x61737472,  /* 'astr' */
};

enum {
  kAudioObjectPropertyScopeGlobal = 0x676c6f62,      /* 'glob' */
  kAudioObjectPropertyScopeInput = 0x696e7074,       /* 'inpt' */
  kAudioObjectPropertyScopeOutput = 0x6f757470,      /* 'outp' */
  kAudioObjectPropertyScopePlayThrough = 0x70747275, /* 'ptru' */
  kAudioObjectPropertyElementMain = 0,
};

/* Status codes. */
enum {
  kAudioHardwareNoError = 0,
  kAudioHardwareUnspecifiedError = 0x77686174,          /* 'what' */
  kAudioHardwareUnknownPropertyError = 0x77686f3f,      /* 'who?' */
  kAudioHardwareBadPropertySizeError = 0x2173697a,      /* '!siz' */
  kAudioHardwareIllegalOperationError = 0x6e6f7065,     /* 'nope' */
  kAudioHardwareBadObjectError = 0x216f626a,            /* '!obj' */
  kAudioHardwareUnsupportedOperationError = 0x756e6f70, /* 'unop' */
  kAudioDeviceUnsupportedFormatError = 0x21646174,      /* '!dat' */
};

/* AudioObject properties. */
enum {
  kAudioObjectPropertyBaseClass = 0x62636c73,    /* 'bcls' */
  kAudioObjectPropertyClass = 0x636c6173,        /* 'clas' */
  kAudioObjectPropertyOwner = 0x73746476,        /* 'stdv' */
  kAudioObjectPropertyName = 0x6c6e616d,         /* 'lnam' */
  kAudioObjectPropertyManufacturer = 0x6c6d616b, /* 'lmak' */
  kAudioObjectPropertyOwnedObjects = 0x6f776e64, /* 'ownd' */
  kAudioObjectPropertyControlList = 0x6374726c,  /* 'ctrl' */
};

/* AudioPlugIn properties. */
enum {
  kAudioPlugInPropertyDeviceList = 0x64657623,         /* 'dev#' */
  kAudioPlugInPropertyTranslateUIDToDevice = 0x75696464, /* 'uidd' */
  kAudioPlugInPropertyResourceBundle = 0x72737263,     /* 'rsrc' */
};

/* AudioDevice properties. */
enum {
  kAudioDevicePropertyDeviceUID = 0x75696420,                      /* 'uid ' */
  kAudioDevicePropertyModelUID = 0x6d756964,                       /* 'muid' */
  kAudioDevicePropertyTransportType = 0x7472616e,                  /* 'tran' */
  kAudioDevicePropertyRelatedDevices = 0x616b696e,                 /* 'akin' */
  kAudioDevicePropertyClockDomain = 0x636c6b64,                    /* 'clkd' */
  kAudioDevicePropertyDeviceIsAlive = 0x6c69766e,                  /* 'livn' */
  kAudioDevicePropertyDeviceIsRunning = 0x676f696e,                /* 'goin' */
  kAudioDevicePropertyDeviceCanBeDefaultDevice = 0x64666c74,       /* 'dflt' */
  kAudioDevicePropertyDeviceCanBeDefaultSystemDevice = 0x73666c74, /* 'sflt' */
  kAudioDevicePropertyLatency = 0x6c746e63,                        /* 'ltnc' */
  kAudioDevicePropertyStreams = 0x73746d23,                        /* 'stm#' */
  kAudioDevicePropertySafetyOffset = 0x73616674,                   /* 'saft' */
  kAudioDevicePropertyNominalSampleRate = 0x6e737274,              /* 'nsrt' */
  kAudioDevicePropertyAvailableNominalSampleRates = 0x6e737223,    /* 'nsr#' */
  kAudioDevicePropertyIcon = 0x69636f6e,                           /* 'icon' */
  kAudioDevicePropertyIsHidden = 0x6869646e,                       /* 'hidn' */
  kAudioDevicePropertyPreferredChannelsForStereo = 0x64636832,     /* 'dch2' */
  kAudioDevicePropertyPreferredChannelLayout = 0x73726e64,         /* 'srnd' */
  kAudioDevicePropertyZeroTimeStampPeriod = 0x72696e67,            /* 'ring' */
};

enum { kAudioDeviceTransportTypeVirtual = 0x76697274 /* 'virt' */ };

/* AudioStream properties. */
enum {
  kAudioStreamPropertyIsActive = 0x73616374,                 /* 'sact' */
  kAudioStreamPropertyDirection = 0x73646972,                /* 'sdir' */
  kAudioStreamPropertyTerminalType = 0x7465726d,             /* 'term' */
  kAudioStreamPropertyStartingChannel = 0x7363686e,          /* 'schn' */
  kAudioStreamPropertyLatency = 0x6c746e63,                  /* 'ltnc' */
  kAudioStreamPropertyVirtualFormat = 0x73666d74,            /* 'sfmt' */
  kAudioStreamPropertyAvailableVirtualFormats = 0x73666d61,  /* 'sfma' */
  kAudioStreamPropertyPhysicalFormat = 0x70667420,           /* 'pft ' */
  kAudioStreamPropertyAvailablePhysicalFormats = 0x70667461, /* 'pfta' */
};

enum {
  kAudioStreamTerminalTypeMicrophone = 0x6d696372, /* 'micr' */
  kAudioStreamTerminalTypeSpeaker = 0x73706b72,    /* 'spkr' */
};

/* ---- formats, ranges, channel layouts, time stamps ---- */

typedef struct AudioValueRange {
  Float64 mMinimum;
  Float64 mMaximum;
} AudioValueRange;

typedef UInt32 AudioFormatID;
typedef UInt32 AudioFormatFlags;

typedef struct AudioStreamBasicDescription {
  Float64 mSampleRate;
  AudioFormatID mFormatID;
  AudioFormatFlags mFormatFlags;
  UInt32 mBytesPerPacket;
  UInt32 mFramesPerPacket;
  UInt32 mBytesPerFrame;
  UInt32 mChannelsPerFrame;
  UInt32 mBitsPerChannel;
  UInt32 mReserved;
} AudioStreamBasicDescription;

typedef struct AudioStreamRangedDescription {
  AudioStreamBasicDescription mFormat;
  AudioValueRange mSampleRateRange;
} AudioStreamRangedDescription;

enum { kAudioFormatLinearPCM = 0x6c70636d /* 'lpcm' */ };
enum {
  kAudioFormatFlagIsFloat = 1u << 0,
  kAudioFormatFlagIsBigEndian = 1u << 1,
  kAudioFormatFlagIsSignedInteger = 1u << 2,
  kAudioFormatFlagIsPacked = 1u << 3,
};

typedef UInt32 AudioChannelLabel;
typedef UInt32 AudioChannelLayoutTag;
typedef UInt32 AudioChannelFlags;
typedef UInt32 AudioChannelBitmap;

typedef struct AudioChannelDescription {
  AudioChannelLabel mChannelLabel;
  AudioChannelFlags mChannelFlags;
  Float32 mCoordinates[3];
} AudioChannelDescription;

typedef struct AudioChannelLayout {
  AudioChannelLayoutTag mChannelLayoutTag;
  AudioChannelBitmap mChannelBitmap;
  UInt32 mNumberChannelDescriptions;
  AudioChannelDescription mChannelDescriptions[1];
} AudioChannelLayout;

enum { kAudioChannelLayoutTag_UseChannelDescriptions = 0 };
enum { kAudioChannelLabel_Left = 1, kAudioChannelLabel_Right = 2 };

typedef struct SMPTETime {
  SInt16 mSubframes;
  SInt16 mSubframeDivisor;
  UInt32 mCounter;
  UInt32 mType;
  UInt32 mFlags;
  SInt16 mHours;
  SInt16 mMinutes;
  SInt16 mSeconds;
  SInt16 mFrames;
} SMPTETime;

typedef struct AudioTimeStamp {
  Float64 mSampleTime;
  UInt64 mHostTime;
  Float64 mRateScalar;
  UInt64 mWordClockTime;
  SMPTETime mSMPTETime;
  UInt32 mFlags;
  UInt32 mReserved;
} AudioTimeStamp;

/* ---- the plug-in interface ---- */

#define kAudioServerPlugInTypeUUID                                                                          \
  CFUUIDGetConstantUUIDWithBytes(NULL, 0x44, 0x3A, 0xBA, 0xB8, 0xE7, 0xB3, 0x49, 0x1A, 0xB9, 0x85, 0xBE, \
                                 0xB9, 0x18, 0x70, 0x30, 0xDB)
#define kAudioServerPlugInDriverInterfaceUUID                                                               \
  CFUUIDGetConstantUUIDWithBytes(NULL, 0xEE, 0xA5, 0x77, 0x3D, 0xCC, 0x43, 0x49, 0xF1, 0x8E, 0x00, 0x8F, \
                                 0x96, 0xE7, 0xD2, 0x3B, 0x17)

enum {
  kAudioServerPlugInIOOperationThreadLifetime = 0x74687264, /* 'thrd' */
  kAudioServerPlugInIOOperationCycle = 0x6379636c,          /* 'cycl' */
  kAudioServerPlugInIOOperationReadInput = 0x72656164,      /* 'read' */
  kAudioServerPlugInIOOperationConvertInput = 0x63696e70,   /* 'cinp' */
  kAudioServerPlugInIOOperationProcessInput = 0x70696e70,   /* 'pinp' */
  kAudioServerPlugInIOOperationProcessOutput = 0x706f7574,  /* 'pout' */
  kAudioServerPlugInIOOperationMixOutput = 0x6d69786f,      /* 'mixo' */
  kAudioServerPlugInIOOperationProcessMix = 0x706d6978,     /* 'pmix' */
  kAudioServerPlugInIOOperationConvertMix = 0x636d6978,     /* 'cmix' */
  kAudioServerPlugInIOOperationWriteMix = 0x72697465,       /* 'rite' */
};

typedef struct AudioServerPlugInClientInfo {
  UInt32 mClientID;
  pid_t mProcessID;
  Boolean mIsNativeEndian;
  CFStringRef mBundleID;
} AudioServerPlugInClientInfo;

typedef struct AudioServerPlugInIOCycleInfo {
  UInt64 mIOCycleCounter;
  UInt32 mNominalIOBufferFrameSize;
  AudioTimeStamp mCurrentTime;
  AudioTimeStamp mInputTime;
  AudioTimeStamp mOutputTime;
  Float64 mMainHostTicksPerFrame;
  Float64 mDeviceHostTicksPerFrame;
} AudioServerPlugInIOCycleInfo;

typedef struct AudioServerPlugInHostInterface AudioServerPlugInHostInterface;
typedef const AudioServerPlugInHostInterface* AudioServerPlugInHostRef;

struct AudioServerPlugInHostInterface {
  OSStatus (*PropertiesChanged)(AudioServerPlugInHostRef inHost, AudioObjectID inObjectID, UInt32 inNumberAddresses,
                                const AudioObjectPropertyAddress* inAddresses);
  OSStatus (*CopyFromStorage)(AudioServerPlugInHostRef inHost, CFStringRef inKey, CFPropertyListRef* outData);
  OSStatus (*WriteToStorage)(AudioServerPlugInHostRef inHost, CFStringRef inKey, CFPropertyListRef inData);
  OSStatus (*DeleteFromStorage)(AudioServerPlugInHostRef inHost, CFStringRef inKey);
  OSStatus (*RequestDeviceConfigurationChange)(AudioServerPlugInHostRef inHost, AudioObjectID inDeviceObjectID,
                                               UInt64 inChangeAction, void* inChangeInfo);
};

typedef struct AudioServerPlugInDriverInterface AudioServerPlugInDriverInterface;
typedef AudioServerPlugInDriverInterface** AudioServerPlugInDriverRef;

struct AudioServerPlugInDriverInterface {
  void* _reserved;
  HRESULT (*QueryInterface)(void* inDriver, REFIID inUUID, LPVOID* outInterface);
  ULONG (*AddRef)(void* inDriver);
  ULONG (*Release)(void* inDriver);
  OSStatus (*Initialize)(AudioServerPlugInDriverRef inDriver, AudioServerPlugInHostRef inHost);
  OSStatus (*CreateDevice)(AudioServerPlugInDriverRef inDriver, CFDictionaryRef inDescription,
                           const AudioServerPlugInClientInfo* inClientInfo, AudioObjectID* outDeviceObjectID);
  OSStatus (*DestroyDevice)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID);
  OSStatus (*AddDeviceClient)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                              const AudioServerPlugInClientInfo* inClientInfo);
  OSStatus (*RemoveDeviceClient)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                 const AudioServerPlugInClientInfo* inClientInfo);
  OSStatus (*PerformDeviceConfigurationChange)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                               UInt64 inChangeAction, void* inChangeInfo);
  OSStatus (*AbortDeviceConfigurationChange)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                             UInt64 inChangeAction, void* inChangeInfo);
  Boolean (*HasProperty)(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID, pid_t inClientProcessID,
                         const AudioObjectPropertyAddress* inAddress);
  OSStatus (*IsPropertySettable)(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                 pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress,
                                 Boolean* outIsSettable);
  OSStatus (*GetPropertyDataSize)(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID,
                                  pid_t inClientProcessID, const AudioObjectPropertyAddress* inAddress,
                                  UInt32 inQualifierDataSize, const void* inQualifierData, UInt32* outDataSize);
  OSStatus (*GetPropertyData)(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID, pid_t inClientProcessID,
                              const AudioObjectPropertyAddress* inAddress, UInt32 inQualifierDataSize,
                              const void* inQualifierData, UInt32 inDataSize, UInt32* outDataSize, void* outData);
  OSStatus (*SetPropertyData)(AudioServerPlugInDriverRef inDriver, AudioObjectID inObjectID, pid_t inClientProcessID,
                              const AudioObjectPropertyAddress* inAddress, UInt32 inQualifierDataSize,
                              const void* inQualifierData, UInt32 inDataSize, const void* inData);
  OSStatus (*StartIO)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID, UInt32 inClientID);
  OSStatus (*StopIO)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID, UInt32 inClientID);
  OSStatus (*GetZeroTimeStamp)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID, UInt32 inClientID,
                               Float64* outSampleTime, UInt64* outHostTime, UInt64* outSeed);
  OSStatus (*WillDoIOOperation)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                                UInt32 inClientID, UInt32 inOperationID, Boolean* outWillDo,
                                Boolean* outWillDoInPlace);
  OSStatus (*BeginIOOperation)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID, UInt32 inClientID,
                               UInt32 inOperationID, UInt32 inIOBufferFrameSize,
                               const AudioServerPlugInIOCycleInfo* inIOCycleInfo);
  OSStatus (*DoIOOperation)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID,
                            AudioObjectID inStreamObjectID, UInt32 inClientID, UInt32 inOperationID,
                            UInt32 inIOBufferFrameSize, const AudioServerPlugInIOCycleInfo* inIOCycleInfo,
                            void* ioMainBuffer, void* ioSecondaryBuffer);
  OSStatus (*EndIOOperation)(AudioServerPlugInDriverRef inDriver, AudioObjectID inDeviceObjectID, UInt32 inClientID,
                             UInt32 inOperationID, UInt32 inIOBufferFrameSize,
                             const AudioServerPlugInIOCycleInfo* inIOCycleInfo);
};

#ifdef __cplusplus
}
#endif

#endif
