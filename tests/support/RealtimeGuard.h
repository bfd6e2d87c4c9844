#pragma once

#include <cstdint>

#include <gtest/gtest.h>

#include "dsp/RealtimeSection.h"

// Allocation guard for real-time code, linked into every test binary.
//
// Code that runs on a real-time audio thread opens an
// `oskel::realtime::Section` (engine/dsp/RealtimeSection.h): the buffers, the
// linear resampler and the ducker do so themselves, and audio callbacks should
// too. While a section is open on a thread, every heap allocation or free made
// by that thread is counted here. Counting uses a replacement of the global
// operator new/delete family, or, in AddressSanitizer and ThreadSanitizer
// builds (whose runtimes own new/delete), the sanitizers' malloc and free
// hooks, which also see plain malloc.
//
// Two ways a test fails:
//  - explicitly: EXPECT_REALTIME_SAFE(statement) runs the statement inside a
//    section and fails when it touched the heap;
//  - at the end of the test program: any heap call inside any section, on any
//    thread (an engine-marked callback on a simulated audio thread, say),
//    fails the run with a global failure naming the count.
//
// Linking: in ordinary builds the replaced operator new pulls this file into
// every test binary. Sanitizer runtimes define operator new themselves, so
// there the file is linked only into binaries that use this header, unless
// the test-support library is linked with
// -Wl,--undefined=oskelRealtimeGuardAnchor.
namespace oskel::test {

// Opens a real-time section on the calling thread for its lifetime and tells
// how many heap calls this thread made inside it.
class RealtimeScope {
 public:
  RealtimeScope();
  RealtimeScope(const RealtimeScope&) = delete;
  RealtimeScope& operator=(const RealtimeScope&) = delete;
  int64_t heapCalls() const;
  // Returns heapCalls() and takes them out of the end-of-run check, for a
  // caller that reports them itself; counting starts afresh.
  int64_t claimHeapCalls();

 private:
  realtime::Section section_;
  int64_t start_;
};

// Heap calls (allocations and frees) made inside open sections, on any thread,
// since the program started or since the last reset.
int64_t allocationsInRealtimeScopes();

// Forgets every call counted so far (for a test that allocates on purpose).
void resetRealtimeAllocationCount();

}  // namespace oskel::test

// Runs the statement inside a section; fails when it made heap calls.
#define EXPECT_REALTIME_SAFE(statement)                                        \
  EXPECT_EQ(([&] {                                                             \
              ::oskel::test::RealtimeScope scope;                              \
              statement;                                                       \
              return scope.claimHeapCalls();                                   \
            })(),                                                              \
            0)                                                                 \
      << "real-time code touched the heap: " #statement
