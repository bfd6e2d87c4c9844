/*
 * Host clock, global dispatch queue, unified log and ring allocation for the
 * driver where the Apple system libraries do not exist, each with a test
 * control from compat/OskelCompatHooks.h.
 */
#include "compat/SystemLite.h"

#include <pthread.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include "compat/OskelCompatHooks.h"

/* ---- host clock: nanoseconds of the monotonic clock unless a test drives it ---- */

static _Atomic(OskelCompatClockFn) gClock;
static _Atomic(void*) gClockContext;
static _Atomic uint32_t gTimebaseNumer = 1;
static _Atomic uint32_t gTimebaseDenom = 1;

void OskelCompat_SetHostClock(OskelCompatClockFn now, void* context, uint32_t numer, uint32_t denom) {
  atomic_store(&gClockContext, context);
  atomic_store(&gTimebaseNumer, now != NULL ? numer : 1);
  atomic_store(&gTimebaseDenom, now != NULL ? denom : 1);
  atomic_store(&gClock, now);
}

kern_return_t mach_timebase_info(mach_timebase_info_t info) {
  info->numer = atomic_load(&gTimebaseNumer);
  info->denom = atomic_load(&gTimebaseDenom);
  return KERN_SUCCESS;
}

uint64_t mach_absolute_time(void) {
  OskelCompatClockFn now = atomic_load(&gClock);
  if (now != NULL) return now(atomic_load(&gClockContext));
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

/* ---- global dispatch queue: a detached thread per item unless a test collects them ---- */

struct OskelCompatQueue {
  int unused;
};
static struct OskelCompatQueue gGlobalQueue;
static _Atomic(OskelCompatExecutorFn) gExecutor;
static _Atomic(void*) gExecutorContext;

void OskelCompat_SetGlobalQueueExecutor(OskelCompatExecutorFn executor, void* context) {
  atomic_store(&gExecutorContext, context);
  atomic_store(&gExecutor, executor);
}

dispatch_queue_t dispatch_get_global_queue(intptr_t identifier, uintptr_t flags) {
  (void)identifier;
  (void)flags;
  return &gGlobalQueue;
}

typedef struct DetachedWork {
  void* context;
  dispatch_function_t work;
} DetachedWork;

static void* runDetached(void* argument) {
  DetachedWork item = *(DetachedWork*)argument;
  free(argument);
  item.work(item.context);
  return NULL;
}

void dispatch_async_f(dispatch_queue_t queue, void* context, dispatch_function_t work) {
  (void)queue;
  OskelCompatExecutorFn executor = atomic_load(&gExecutor);
  if (executor != NULL) {
    executor(atomic_load(&gExecutorContext), context, work);
    return;
  }
  DetachedWork* item = malloc(sizeof *item);
  pthread_t thread;
  pthread_attr_t attributes;
  if (item != NULL) {
    item->context = context;
    item->work = work;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    int failed = pthread_create(&thread, &attributes, runDetached, item);
    pthread_attr_destroy(&attributes);
    if (!failed) return;
    free(item);
  }
  /* No thread to be had: late is better than never. */
  work(context);
}

/* ---- unified log ---- */

struct OskelCompatLog {
  char* subsystem;
  char* category;
};

static _Atomic(OskelCompatLogSinkFn) gLogSink;
static _Atomic(void*) gLogSinkContext;

void OskelCompat_SetLogSink(OskelCompatLogSinkFn sink, void* context) {
  atomic_store(&gLogSinkContext, context);
  atomic_store(&gLogSink, sink);
}

os_log_t os_log_create(const char* subsystem, const char* category) {
  os_log_t log = calloc(1, sizeof *log);
  if (log == NULL) return NULL;
  log->subsystem = strdup(subsystem);
  log->category = strdup(category);
  return log;
}

int os_log_type_enabled(os_log_t log, os_log_type_t type) {
  (void)log;
  return type != OS_LOG_TYPE_DEBUG || atomic_load(&gLogSink) != NULL;
}

/* Drops the privacy annotation of every conversion ("%{public}s" -> "%s"). */
static void stripPrivacyAnnotations(const char* format, char* out, size_t capacity) {
  size_t used = 0;
  for (const char* p = format; *p != '\0' && used + 1 < capacity; ++p) {
    out[used++] = *p;
    if (p[0] == '%' && p[1] == '%' && used + 1 < capacity) {
      out[used++] = *++p;
    } else if (p[0] == '%' && p[1] == '{') {
      const char* close = strchr(p, '}');
      if (close != NULL) p = close;
    }
  }
  out[used] = '\0';
}

#pragma GCC diagnostic ignored "-Wformat-nonliteral"

void OskelCompat_LogWrite(os_log_t log, os_log_type_t type, const char* format, ...) {
  if (!os_log_type_enabled(log, type)) return;
  char plainFormat[512];
  char line[1024];
  stripPrivacyAnnotations(format, plainFormat, sizeof plainFormat);
  va_list arguments;
  va_start(arguments, format);
  vsnprintf(line, sizeof line, plainFormat, arguments);
  va_end(arguments);
  const char* subsystem = log != NULL ? log->subsystem : "";
  const char* category = log != NULL ? log->category : "";
  OskelCompatLogSinkFn sink = atomic_load(&gLogSink);
  if (sink != NULL)
    sink(atomic_load(&gLogSinkContext), type, subsystem, category, line);
  else
    fprintf(stderr, "[%s:%s] %s\n", subsystem, category, line);
}

/* ---- ring allocation ---- */

static atomic_uint gAllocationsToSkip;
static atomic_uint gAllocationsToFail;

void OskelCompat_FailAllocations(unsigned skip, unsigned count) {
  atomic_store(&gAllocationsToSkip, skip);
  atomic_store(&gAllocationsToFail, count);
}

void* OskelCompat_Calloc(size_t count, size_t size) {
  if (atomic_load(&gAllocationsToFail) > 0) {
    if (atomic_load(&gAllocationsToSkip) > 0)
      atomic_fetch_sub(&gAllocationsToSkip, 1);
    else {
      atomic_fetch_sub(&gAllocationsToFail, 1);
      return NULL;
    }
  }
  return calloc(count, size);
}
