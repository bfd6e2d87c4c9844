#include "support/RealtimeGuard.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace oskel::test {

namespace {

std::atomic<int64_t> totalInSections{0};

// Initial-exec: reading it never allocates (it is also read inside operator new).
__attribute__((tls_model("initial-exec"))) constinit thread_local int64_t callsOnThread = 0;

inline void noteHeapCall() noexcept {
  if (realtime::sectionDepth > 0) {
    ++callsOnThread;
    totalInSections.fetch_add(1, std::memory_order_relaxed);
  }
}

// Fails the program when anything allocated inside a section and was not
// reported by an explicit check.
class EndOfRunCheck : public ::testing::Environment {
 public:
  void TearDown() override {
    EXPECT_EQ(allocationsInRealtimeScopes(), 0) << "heap calls were made inside real-time sections";
  }
};

[[maybe_unused]] const bool endOfRunCheckRegistered = (::testing::AddGlobalTestEnvironment(new EndOfRunCheck), true);

}  // namespace

}  // namespace oskel::test

// Referenced by the linker option -Wl,--undefined=oskelRealtimeGuardAnchor so
// that this file is linked even where nothing else pulls it in (sanitizer
// runtimes define operator new themselves).
extern "C" {
[[maybe_unused]] int oskelRealtimeGuardAnchor = 0;
}

namespace oskel::test {

RealtimeScope::RealtimeScope() : start_(callsOnThread) {}

int64_t RealtimeScope::heapCalls() const { return callsOnThread - start_; }

int64_t allocationsInRealtimeScopes() { return totalInSections.load(std::memory_order_relaxed); }

void resetRealtimeAllocationCount() { totalInSections.store(0, std::memory_order_relaxed); }

int64_t RealtimeScope::claimHeapCalls() {
  const int64_t calls = heapCalls();
  start_ = callsOnThread;
  totalInSections.fetch_sub(calls, std::memory_order_relaxed);
  return calls;
}

}  // namespace oskel::test

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)

// The sanitizer runtimes replace new/delete themselves; replacing them again
// would hide mismatched new/delete pairs from AddressSanitizer. Their hooks
// see every user allocation and free instead (malloc included).
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*mallocHook)(const volatile void*, size_t),
                                                         void (*freeHook)(const volatile void*));

namespace {

void onMalloc(const volatile void*, size_t) { oskel::test::noteHeapCall(); }
void onFree(const volatile void*) { oskel::test::noteHeapCall(); }

[[maybe_unused]] const int hooksInstalled = __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);

}  // namespace

#else

// Replacement of every replaceable global allocation function. Each counts
// the call and forwards to malloc/free, so it stays cheap for all tests.
namespace {

// The nothrow forms return null where the others throw.
void* allocate(std::size_t size, bool nothrow = false) {
  oskel::test::noteHeapCall();
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  if (nothrow) return nullptr;
  throw std::bad_alloc();
}

void* allocateAligned(std::size_t size, std::align_val_t alignment, bool nothrow = false) {
  oskel::test::noteHeapCall();
  const auto align = static_cast<std::size_t>(alignment);
  const std::size_t rounded = (size + align - 1) / align * align;  // aligned_alloc needs a multiple
  if (void* p = std::aligned_alloc(align, rounded == 0 ? align : rounded)) return p;
  if (nothrow) return nullptr;
  throw std::bad_alloc();
}

void release(void* p) noexcept {
  if (p == nullptr) return;
  oskel::test::noteHeapCall();
  std::free(p);
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, true); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size, true); }
void* operator new(std::size_t size, std::align_val_t a) { return allocateAligned(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocateAligned(size, a); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocateAligned(size, a, true);
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept {
  return allocateAligned(size, a, true);
}

void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete(void* p, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { release(p); }
void operator delete(void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, std::align_val_t, const std::nothrow_t&) noexcept { release(p); }

#endif
