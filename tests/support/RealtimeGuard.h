#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "dsp/RealtimeSection.h"

// Allocation guard for real-time code, linked into every test binary.
//
// Code on a real-time audio thread opens an `oskel::realtime::Section`
// (engine/dsp/RealtimeSection.h); every heap allocation or free a thread makes
// inside one is counted, through a replaced global operator new/delete or, in
// sanitizer builds (whose runtimes own new/delete), the sanitizers' malloc and
// free hooks. A test fails when EXPECT_REALTIME_SAFE(statement) touched the
// heap; the run fails at its end when any section on any thread did (an
// engine-marked callback on a simulated audio thread, say). The test-support
// library links with -Wl,--undefined=oskelRealtimeGuardAnchor so that the
// sanitizer builds link this file too.
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
#define EXPECT_REALTIME_SAFE(statement)           \
  EXPECT_EQ(([&] {                                \
              ::oskel::test::RealtimeScope scope; \
              statement;                          \
              return scope.claimHeapCalls();      \
            })(),                                 \
            0)                                    \
      << "real-time code touched the heap: " #statement
