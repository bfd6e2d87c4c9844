/*
 * Test controls for the stand-in platform services: a host clock the test
 * advances, a log sink that collects lines, an executor for work sent to the
 * global dispatch queue, bundles with resource folders, and failing ring
 * allocations. Each setter replaces the previous setting; passing NULL
 * restores the default (monotonic clock in nanoseconds, log lines to standard
 * error, a detached thread per dispatched item, no bundles, real calloc).
 */
#ifndef OSKEL_COMPAT_HOOKS_H
#define OSKEL_COMPAT_HOOKS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef uint64_t (*OskelCompatClockFn)(void* context);
void OskelCompat_SetHostClock(OskelCompatClockFn now, void* context, uint32_t numer, uint32_t denom);

/* One formatted line per call; level is an os_log type. */
typedef void (*OskelCompatLogSinkFn)(void* context, uint8_t level, const char* subsystem, const char* category,
                                     const char* line);
void OskelCompat_SetLogSink(OskelCompatLogSinkFn sink, void* context);

typedef void (*OskelCompatExecutorFn)(void* context, void* workContext, void (*work)(void*));
void OskelCompat_SetGlobalQueueExecutor(OskelCompatExecutorFn executor, void* context);

/* Makes CFBundleGetBundleWithIdentifier find a bundle whose resources live in
   the given folder; NULL resources removes it. */
void OskelCompat_RegisterBundle(const char* identifier, const char* resourcesPath);

/* The next `count` ring allocations after `skip` successful ones return NULL. */
void OskelCompat_FailAllocations(unsigned skip, unsigned count);

#ifdef __cplusplus
}
#endif

#endif
