/*
 * The driver's only platform include. On Apple platforms it pulls in the real
 * CoreAudio, CoreFoundation, dispatch, mach time and unified log headers;
 * elsewhere it declares the same names with the public values so the driver
 * builds and can be exercised by a host simulator.
 */
#ifndef OSKEL_AUDIO_COMPAT_H
#define OSKEL_AUDIO_COMPAT_H

#include <pthread.h>
#include <stdlib.h>

#if defined(__APPLE__)
#include <CoreAudio/AudioServerPlugIn.h>
#include <CoreFoundation/CoreFoundation.h>
#include <dispatch/dispatch.h>
#include <mach/mach_time.h>
#include <os/log.h>
#define OSKEL_RING_CALLOC calloc
#else
#include "compat/CoreAudioPlugInLite.h"
#include "compat/CoreFoundationLite.h"
#include "compat/SystemLite.h"
#define OSKEL_RING_CALLOC OskelCompat_Calloc
#endif

#endif
