/*
 * Stand-ins for the system services the driver uses besides CoreFoundation and
 * CoreAudio: the host clock (mach_absolute_time), the global dispatch queue,
 * and the unified log. Signatures follow the public API; the behaviour can be
 * driven from tests through compat/OskelCompatHooks.h. Never included on Apple
 * platforms.
 */
#ifndef OSKEL_COMPAT_SYSTEM_LITE_H
#define OSKEL_COMPAT_SYSTEM_LITE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* ---- host clock ---- */

typedef int kern_return_t;
enum { KERN_SUCCESS = 0 };

struct mach_timebase_info {
  uint32_t numer;
  uint32_t denom;
};
typedef struct mach_timebase_info* mach_timebase_info_t;
typedef struct mach_timebase_info mach_timebase_info_data_t;

/* The function shares its name with the struct, as in <mach/mach_time.h>. */
#if defined(__cplusplus) && defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
#endif
kern_return_t mach_timebase_info(mach_timebase_info_t info);
#if defined(__cplusplus) && defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
uint64_t mach_absolute_time(void);

/* ---- global dispatch queue ---- */

typedef struct OskelCompatQueue* dispatch_queue_t;
typedef void (*dispatch_function_t)(void* context);
enum { DISPATCH_QUEUE_PRIORITY_DEFAULT = 0 };

dispatch_queue_t dispatch_get_global_queue(intptr_t identifier, uintptr_t flags);
void dispatch_async_f(dispatch_queue_t queue, void* context, dispatch_function_t work);

/* ---- unified log ---- */

typedef struct OskelCompatLog* os_log_t;
typedef uint8_t os_log_type_t;
enum {
  OS_LOG_TYPE_DEFAULT = 0x00,
  OS_LOG_TYPE_INFO = 0x01,
  OS_LOG_TYPE_DEBUG = 0x02,
  OS_LOG_TYPE_ERROR = 0x10,
  OS_LOG_TYPE_FAULT = 0x11,
};

#define OS_LOG_DEFAULT ((os_log_t)0)

os_log_t os_log_create(const char* subsystem, const char* category);
int os_log_type_enabled(os_log_t log, os_log_type_t type);
/* Formats like os_log: printf conversions, with the "{public}"/"{private}"
   privacy annotations accepted and ignored. */
void OskelCompat_LogWrite(os_log_t log, os_log_type_t type, const char* format, ...);

#define os_log_with_type(log, type, ...) OskelCompat_LogWrite((log), (type), __VA_ARGS__)
#define os_log(log, ...) OskelCompat_LogWrite((log), OS_LOG_TYPE_DEFAULT, __VA_ARGS__)
#define os_log_error(log, ...) OskelCompat_LogWrite((log), OS_LOG_TYPE_ERROR, __VA_ARGS__)

/* ---- memory for the loopback rings ---- */

/* calloc, unless a test has asked for the next allocations to fail. */
void* OskelCompat_Calloc(size_t count, size_t size);

#ifdef __cplusplus
}
#endif

#endif
