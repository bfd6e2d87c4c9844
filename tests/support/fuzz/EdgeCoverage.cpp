// Edge coverage for libFuzzer from GCC's -fsanitize-coverage=trace-pc. GCC
// calls the hook at the start of every basic block of an instrumented file;
// the pair (previous block, this block) is hashed into a table of counters in
// the section libFuzzer reads as extra coverage. clang 14 cannot compile the
// engine, so GCC instruments and libFuzzer (clang's runtime, whose own
// trace-pc hook the build weakens) only mutates and keeps what is new.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" void __sanitizer_cov_trace_pc();

namespace {

constexpr uintptr_t kEdges = uintptr_t{1} << 16;
__attribute__((section("__libfuzzer_extra_counters"), used)) uint8_t counters[kEdges];
bool seen[kEdges];  // libFuzzer clears the counters before every input; this stays
thread_local uintptr_t previous = 0;

// With OSKEL_FUZZ_EDGES set, the number of edges the run reached (scripts/fuzz.sh
// replays the final corpus for it).
__attribute__((destructor)) void reportEdges() {
  if (std::getenv("OSKEL_FUZZ_EDGES") == nullptr) return;
  unsigned edges = 0;
  for (const bool edge : seen) edges += edge;
  std::fprintf(stderr, "edges %u of %u\n", edges, static_cast<unsigned>(kEdges));
}

}  // namespace

extern "C" void __sanitizer_cov_trace_pc() {
  uintptr_t block = reinterpret_cast<uintptr_t>(__builtin_return_address(0));
  block = (block >> 4) ^ (block << 8);
  const uintptr_t edge = (block ^ previous) & (kEdges - 1);
  ++counters[edge];
  seen[edge] = true;
  previous = block >> 1;
}
