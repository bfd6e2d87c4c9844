// Edge coverage for AFL++ from GCC's -fsanitize-coverage=trace-pc: GCC calls
// the hook at the start of every basic block of an instrumented file, and the
// pair (previous block, this block) is hashed into AFL's shared bitmap the way
// AFL's classic instrumentation does. Debian's AFL++ GCC plugin refuses the
// packaged GCC and clang 14 cannot compile the engine, so the fuzz build
// instruments with GCC itself and takes only the runtime and driver from AFL++.
#include <cstdint>

extern "C" {
extern uint8_t* __afl_area_ptr;
void __sanitizer_cov_trace_pc();
}

namespace {
constexpr uintptr_t kMapMask = (1u << 16) - 1;  // AFL's default 64 KiB map
thread_local uintptr_t previous = 0;
}  // namespace

extern "C" void __sanitizer_cov_trace_pc() {
  uintptr_t block = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  block = (block >> 4) ^ (block << 8);
  ++__afl_area_ptr[(block ^ previous) & kMapMask];
  previous = block >> 1;
}
