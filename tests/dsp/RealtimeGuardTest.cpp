#include "support/RealtimeGuard.h"

#include <memory>
#include <thread>
#include <vector>

#include <gtest/gtest.h>


namespace oskel {
namespace {

// Keeps the compiler from eliding a new/delete pair.
void keep(const void* p) { asm volatile("" : : "r"(p) : "memory"); }

TEST(RealtimeGuard, CountsHeapCallsInsideASectionOnly) {
  auto outside = std::make_unique<int>(1);  // not counted
  test::RealtimeScope scope;
  EXPECT_EQ(scope.heapCalls(), 0);
  {
    std::vector<float> v(16);
    keep(v.data());
  }
  EXPECT_EQ(scope.heapCalls(), 2);  // one allocation, one free
  EXPECT_EQ(scope.claimHeapCalls(), 2);
  EXPECT_EQ(scope.heapCalls(), 0);
}

TEST(RealtimeGuard, SectionsOpenedOnOtherThreadsReachTheEndOfRunTotal) {
  const int64_t before = test::allocationsInRealtimeScopes();
  std::thread callback([] {
    realtime::Section section;  // what an audio callback does
    auto value = std::make_unique<double>(2.0);
    keep(value.get());
  });
  callback.join();
  EXPECT_EQ(test::allocationsInRealtimeScopes() - before, 2);
  test::resetRealtimeAllocationCount();  // deliberate: must not fail the run
}

}  // namespace
}  // namespace oskel
