#!/usr/bin/env bash
# Runs one fuzz target under AFL++ for a while, at the lowest CPU priority.
#   scripts/fuzz.sh TARGET SECONDS [EXECUTIONS]
#     TARGET: wav, session_messages, driver_properties or update_feed; stops
#     after SECONDS, or once about EXECUTIONS inputs ran if that comes first.
# AFL++ drives the build without sanitizers (`scripts/build.sh fuzz-plain`,
# several times faster); every input it kept (one per new coverage) and every
# finding is then run again by the ASan+UBSan build (`scripts/build.sh fuzz`).
# Findings go to build-fuzz/findings/TARGET. Prints executions, coverage and
# crashes, and fails on a crash, a hang or a sanitizer report: copy the input
# into the target's corpus/ (the replay test runs it) and fix the fault.
# OSKEL_FUZZ_RESUME=1 continues the previous run's queue instead of the corpus.
set -euo pipefail
cd "$(dirname "$0")/.."

usage="usage: scripts/fuzz.sh TARGET SECONDS [EXECUTIONS]"
target=${1:?$usage}
seconds=${2:?$usage}
limit=()
[ -z "${3:-}" ] || limit=(-E "$3")
case "$target" in
  wav) dir=tests/recording ;;
  session_messages) dir=tests/session ;;
  driver_properties) dir=tests/driver ;;
  update_feed) dir=tests/update ;;
  *) echo "unknown fuzz target: $target" >&2; exit 2 ;;
esac
bash scripts/build.sh fuzz-plain --target "fuzz_$target" >/dev/null
bash scripts/build.sh fuzz --target "fuzz_$target" >/dev/null
out=build-fuzz/findings/$target

input=(-i "$dir/corpus")
if [ -n "${OSKEL_FUZZ_RESUME:-}" ] && [ -d "$out/default/queue" ]; then
  input=(-i -)
else
  rm -rf "$out"
fi
dictionary=()
[ -f "$dir/fuzz.dict" ] && dictionary=(-x "$dir/fuzz.dict")

# The machine is shared: no core binding, no CPU-governor check, no UI.
export AFL_NO_UI=1 AFL_NO_AFFINITY=1 AFL_SKIP_CPUFREQ=1 AFL_QUIET=1
export AFL_I_DONT_CARE_ABOUT_MISSING_CRASHES=1
mkdir -p "$out"
# The targets keep state between inputs (a live session, a loaded driver): a
# fresh process every 1000 inputs bounds their memory and history.
nice -n 19 afl-fuzz "${input[@]}" -o "$out" "${dictionary[@]}" -V "$seconds" "${limit[@]}" -t 2000 \
  -- "build-fuzz-plain/$dir/fuzz_$target" 1000 >"$out.log" 2>&1 || { tail -20 "$out.log" >&2; exit 1; }

stats=$out/default/fuzzer_stats
value() { sed -n "s/^$1 *: //p" "$stats"; }
echo "fuzz $target: $(value execs_done) executions in $(value run_time) s ($(value execs_per_sec)/s)," \
  "$(value edges_found) edges (map density $(value bitmap_cvg)), corpus $(value corpus_count)," \
  "$(value saved_crashes) crashes, $(value saved_hangs) hangs"
status=0
found=$(find "$out/default/crashes" "$out/default/hangs" -type f -name 'id:*' 2>/dev/null)
if [ -n "$found" ]; then
  echo "$found" >&2
  status=1
fi
mapfile -t kept < <(find "$out/default/queue" "$out/default/crashes" "$out/default/hangs" -type f -name 'id:*')
if ! ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  nice -n 19 "build-fuzz/$dir/fuzz_$target" "${kept[@]}" >"$out.sanitized.log" 2>&1; then
  echo "fuzz $target: the sanitizer build failed on an input it was given: $out.sanitized.log" >&2
  status=1
fi
exit $status
