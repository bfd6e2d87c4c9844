/*
 * Minimal reference-counted CoreFoundation objects: strings, UUIDs, URLs and
 * bundles. Constant strings and UUIDs are interned and live for the whole
 * process, as CFSTR and CFUUIDGetConstantUUIDWithBytes promise.
 */
#include "compat/CoreFoundationLite.h"

#include <limits.h>
#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "compat/OskelCompatHooks.h"

enum {
  kObjectMagic = 0x4f434621, /* marks objects of this file, to catch foreign pointers early */
  kStringTypeID = 7,
  kUUIDTypeID = 29,
  kURLTypeID = 30,
  kBundleTypeID = 31,
};

typedef struct ObjectHeader {
  uint32_t magic;
  uint32_t typeID;
  int immortal;
  atomic_long refs;
  const struct ObjectHeader* nextInterned;
} ObjectHeader;

struct __CFString {
  ObjectHeader header;
  size_t length;
  char bytes[];
};

struct __CFUUID {
  ObjectHeader header;
  CFUUIDBytes bytes;
};

struct __CFURL {
  ObjectHeader header;
  char path[];
};

struct __CFBundle {
  ObjectHeader header;
  char* identifier;
  char* resources;
};

static pthread_mutex_t gInternMutex = PTHREAD_MUTEX_INITIALIZER;
static const ObjectHeader* gInterned;

static const ObjectHeader* headerOf(CFTypeRef object) {
  const ObjectHeader* header = (const ObjectHeader*)object;
  if (header == NULL || header->magic != kObjectMagic) {
    fprintf(stderr, "CoreFoundationLite: not a CF object: %p\n", object);
    abort();
  }
  return header;
}

static void* newObject(size_t size, uint32_t typeID, int immortal) {
  ObjectHeader* header = (ObjectHeader*)calloc(1, size);
  if (header == NULL) return NULL;
  header->magic = kObjectMagic;
  header->typeID = typeID;
  header->immortal = immortal;
  atomic_init(&header->refs, 1);
  return header;
}

CFTypeRef CFRetain(CFTypeRef object) {
  const ObjectHeader* header = headerOf(object);
  if (!header->immortal) atomic_fetch_add(&((ObjectHeader*)header)->refs, 1);
  return object;
}

void CFRelease(CFTypeRef object) {
  const ObjectHeader* header = headerOf(object);
  if (header->immortal) return;
  if (atomic_fetch_sub(&((ObjectHeader*)header)->refs, 1) == 1) free((void*)header);
}

CFIndex CFGetRetainCount(CFTypeRef object) {
  const ObjectHeader* header = headerOf(object);
  return header->immortal ? LONG_MAX : atomic_load(&header->refs);
}

CFTypeID CFGetTypeID(CFTypeRef object) { return headerOf(object)->typeID; }

Boolean CFEqual(CFTypeRef a, CFTypeRef b) {
  if (a == b) return a != NULL;
  if (a == NULL || b == NULL) return 0;
  const ObjectHeader* ha = headerOf(a);
  const ObjectHeader* hb = headerOf(b);
  if (ha->typeID != hb->typeID) return 0;
  switch (ha->typeID) {
    case kStringTypeID: {
      CFStringRef sa = (CFStringRef)a, sb = (CFStringRef)b;
      return sa->length == sb->length && memcmp(sa->bytes, sb->bytes, sa->length) == 0;
    }
    case kUUIDTypeID:
      return memcmp(&((CFUUIDRef)a)->bytes, &((CFUUIDRef)b)->bytes, sizeof(CFUUIDBytes)) == 0;
    case kURLTypeID:
      return strcmp(((CFURLRef)a)->path, ((CFURLRef)b)->path) == 0;
    default:
      return 0;
  }
}

/* The interned object equal to the candidate, which joins the interned ones if
   it is the first of its value and is freed otherwise. */
static const void* intern(ObjectHeader* candidate) {
  if (candidate == NULL) return NULL;
  pthread_mutex_lock(&gInternMutex);
  for (const ObjectHeader* h = gInterned; h != NULL; h = h->nextInterned) {
    if (CFEqual(h, candidate)) {
      pthread_mutex_unlock(&gInternMutex);
      free(candidate);
      return h;
    }
  }
  candidate->nextInterned = gInterned;
  gInterned = candidate;
  pthread_mutex_unlock(&gInternMutex);
  return candidate;
}

/* ---- strings ---- */

CFTypeID CFStringGetTypeID(void) { return kStringTypeID; }

static struct __CFString* newString(const char* text, int immortal) {
  size_t length = strlen(text);
  struct __CFString* string = newObject(sizeof(struct __CFString) + length + 1, kStringTypeID, immortal);
  if (string == NULL) return NULL;
  string->length = length;
  memcpy(string->bytes, text, length + 1);
  return string;
}

CFStringRef CFStringCreateWithCString(CFAllocatorRef allocator, const char* text, CFStringEncoding encoding) {
  (void)allocator;
  if (text == NULL || encoding != kCFStringEncodingUTF8) return NULL;
  return newString(text, 0);
}

CFStringRef OskelCompat_ConstantString(const char* text) {
  struct __CFString* string = newString(text, 1);
  return intern(string != NULL ? &string->header : NULL);
}

Boolean CFStringGetCString(CFStringRef string, char* buffer, CFIndex bufferSize, CFStringEncoding encoding) {
  if (string == NULL || buffer == NULL || encoding != kCFStringEncodingUTF8) return 0;
  if (bufferSize <= 0 || (size_t)bufferSize < string->length + 1) return 0;
  memcpy(buffer, string->bytes, string->length + 1);
  return 1;
}

CFIndex CFStringGetLength(CFStringRef string) {
  CFIndex characters = 0;
  for (size_t i = 0; i < string->length; ++i) {
    unsigned char byte = (unsigned char)string->bytes[i];
    if ((byte & 0xC0) != 0x80) ++characters;
  }
  return characters;
}

CFComparisonResult CFStringCompare(CFStringRef a, CFStringRef b, CFStringCompareFlags options) {
  (void)options;
  int order = strcmp(a->bytes, b->bytes);
  return order < 0 ? kCFCompareLessThan : (order > 0 ? kCFCompareGreaterThan : kCFCompareEqualTo);
}

/* ---- UUIDs ---- */

CFTypeID CFUUIDGetTypeID(void) { return kUUIDTypeID; }

static struct __CFUUID* newUUID(CFUUIDBytes bytes, int immortal) {
  struct __CFUUID* uuid = newObject(sizeof(struct __CFUUID), kUUIDTypeID, immortal);
  if (uuid != NULL) uuid->bytes = bytes;
  return uuid;
}

CFUUIDRef CFUUIDGetConstantUUIDWithBytes(CFAllocatorRef allocator, UInt8 b0, UInt8 b1, UInt8 b2, UInt8 b3,
                                         UInt8 b4, UInt8 b5, UInt8 b6, UInt8 b7, UInt8 b8, UInt8 b9, UInt8 b10,
                                         UInt8 b11, UInt8 b12, UInt8 b13, UInt8 b14, UInt8 b15) {
  (void)allocator;
  const CFUUIDBytes bytes = {b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15};
  struct __CFUUID* uuid = newUUID(bytes, 1);
  return intern(uuid != NULL ? &uuid->header : NULL);
}

CFUUIDRef CFUUIDCreateFromUUIDBytes(CFAllocatorRef allocator, CFUUIDBytes bytes) {
  (void)allocator;
  return newUUID(bytes, 0);
}

CFUUIDBytes CFUUIDGetUUIDBytes(CFUUIDRef uuid) { return uuid->bytes; }

/* ---- URLs and bundles ---- */

CFTypeID CFURLGetTypeID(void) { return kURLTypeID; }

Boolean CFURLGetFileSystemRepresentation(CFURLRef url, Boolean resolveAgainstBase, UInt8* buffer, CFIndex maxBufLen) {
  (void)resolveAgainstBase;
  size_t length = strlen(url->path);
  if (buffer == NULL || maxBufLen <= 0 || (size_t)maxBufLen < length + 1) return 0;
  memcpy(buffer, url->path, length + 1);
  return 1;
}

enum { kMaxBundles = 8 };
static pthread_mutex_t gBundleMutex = PTHREAD_MUTEX_INITIALIZER;
static struct __CFBundle* gBundles[kMaxBundles];

void OskelCompat_RegisterBundle(const char* identifier, const char* resourcesPath) {
  pthread_mutex_lock(&gBundleMutex);
  struct __CFBundle* slot = NULL;
  for (int i = 0; i < kMaxBundles && slot == NULL; ++i)
    if (gBundles[i] != NULL && strcmp(gBundles[i]->identifier, identifier) == 0) slot = gBundles[i];
  for (int i = 0; i < kMaxBundles && slot == NULL; ++i) {
    if (gBundles[i] == NULL) {
      /* Bundles are never freed: a CFBundleRef handed out stays valid. */
      gBundles[i] = newObject(sizeof(struct __CFBundle), kBundleTypeID, 1);
      if (gBundles[i] == NULL) break;
      gBundles[i]->identifier = strdup(identifier);
      slot = gBundles[i];
    }
  }
  if (slot != NULL) {
    free(slot->resources);
    slot->resources = resourcesPath != NULL ? strdup(resourcesPath) : NULL;
  }
  pthread_mutex_unlock(&gBundleMutex);
}

CFBundleRef CFBundleGetBundleWithIdentifier(CFStringRef identifier) {
  if (identifier == NULL) return NULL;
  CFBundleRef found = NULL;
  pthread_mutex_lock(&gBundleMutex);
  for (int i = 0; i < kMaxBundles && found == NULL; ++i) {
    struct __CFBundle* bundle = gBundles[i];
    if (bundle != NULL && bundle->resources != NULL && strcmp(bundle->identifier, identifier->bytes) == 0)
      found = bundle;
  }
  pthread_mutex_unlock(&gBundleMutex);
  return found;
}

CFURLRef CFBundleCopyResourceURL(CFBundleRef bundle, CFStringRef resourceName, CFStringRef resourceType,
                                 CFStringRef subDirName) {
  if (bundle == NULL || resourceName == NULL) return NULL;
  char path[4096];
  pthread_mutex_lock(&gBundleMutex);
  int written = snprintf(path, sizeof path, "%s/%s%s%s%s%s", bundle->resources ? bundle->resources : "",
                         subDirName ? subDirName->bytes : "", subDirName ? "/" : "", resourceName->bytes,
                         resourceType ? "." : "", resourceType ? resourceType->bytes : "");
  pthread_mutex_unlock(&gBundleMutex);
  if (written < 0 || (size_t)written >= sizeof path || access(path, F_OK) != 0) return NULL;
  struct __CFURL* url = newObject(sizeof(struct __CFURL) + (size_t)written + 1, kURLTypeID, 0);
  if (url != NULL) memcpy(url->path, path, (size_t)written + 1);
  return url;
}
