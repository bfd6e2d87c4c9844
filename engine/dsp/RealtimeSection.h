#pragma once

// Marks code that runs on a real-time audio thread. While a section is open on
// a thread, that thread must not allocate, free, log or block on anything but
// the short buffer locks. Test builds install an allocation guard
// (tests/support/RealtimeGuard.h) that counts heap calls made inside open
// sections and fails the test; in the shipped program a section only costs an
// increment and a decrement of a thread-local counter.
namespace oskel::realtime {

// Number of sections open on the calling thread.
inline constinit thread_local int sectionDepth = 0;

class Section {
 public:
  Section() noexcept { ++sectionDepth; }
  ~Section() { --sectionDepth; }
  Section(const Section&) = delete;
  Section& operator=(const Section&) = delete;
};

inline bool inSection() noexcept { return sectionDepth > 0; }

}  // namespace oskel::realtime
