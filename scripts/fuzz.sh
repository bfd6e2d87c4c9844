#!/usr/bin/env bash
# Runs one fuzz target under libFuzzer for a while, at the lowest CPU priority.
#   scripts/fuzz.sh TARGET SECONDS [EXECUTIONS]
#     TARGET: wav, session_messages, driver_properties, update_feed or settings; stops
#     after SECONDS, or after EXECUTIONS inputs if that comes first.
# libFuzzer drives the build without sanitizers (`scripts/build.sh fuzz-plain`,
# several times faster); then every input it kept (one per new coverage) and
# every finding run again in the ASan+UBSan build (`scripts/build.sh fuzz`),
# unless OSKEL_FUZZ_SANITIZE=0. The corpus grows in build-fuzz/findings/TARGET
# (a later run goes on from it); findings are written beside it. Prints
# executions, coverage and crashes, and fails on a crash, a time-out, an
# out-of-memory or a sanitizer report: copy the input into the target's
# corpus/ (its replay test runs it) and fix the fault.
set -euo pipefail
cd "$(dirname "$0")/.."

usage="usage: scripts/fuzz.sh TARGET SECONDS [EXECUTIONS]"
target=${1:?$usage}
seconds=${2:?$usage}
executions=${3:--1}
case "$target" in
  wav) dir=tests/recording ;;
  session_messages) dir=tests/session ;;
  driver_properties) dir=tests/driver ;;
  update_feed) dir=tests/update ;;
  settings) dir=tests/app_model ;;
  *) echo "unknown fuzz target: $target" >&2; exit 2 ;;
esac
sanitize=${OSKEL_FUZZ_SANITIZE:-1}
bash scripts/build.sh fuzz-plain --target "fuzz_$target" >/dev/null
[ "$sanitize" = 0 ] || bash scripts/build.sh fuzz --target "fuzz_$target" >/dev/null

out=build-fuzz/findings/$target
mkdir -p "$out/corpus" "$out/crashes"
rm -f "$out"/crashes/*
options=(-max_total_time="$seconds" -runs="$executions" -timeout=10 -rss_limit_mb=2048
         -artifact_prefix="$out/crashes/" -print_final_stats=1)
[ -f "$dir/fuzz.dict" ] && options+=(-dict="$dir/fuzz.dict")

status=0
started=$SECONDS
nice -n 19 "build-fuzz-plain/$dir/fuzz_$target" "${options[@]}" "$out/corpus" "$dir/corpus" >"$out.log" 2>&1 || status=1
stat() { sed -n "s/^stat::$1: *//p" "$out.log"; }
took=$((SECONDS - started))
edges=$(OSKEL_FUZZ_EDGES=1 nice -n 19 "build-fuzz-plain/$dir/fuzz_$target" -runs=0 "$out/corpus" "$dir/corpus" 2>&1 |
        sed -n 's/^edges \([0-9]*\) of.*/\1/p' | tail -1)
echo "fuzz $target: $(stat number_of_executed_units) executions in $took s ($(stat average_exec_per_sec)/s)," \
  "$edges edges (map density $(awk "BEGIN { printf \"%.2f\", 100 * ${edges:-0} / 65536 }")%)," \
  "corpus $(find "$out/corpus" -type f | wc -l), findings $(find "$out/crashes" -type f | wc -l)"
if ((status)); then
  echo "fuzz $target: the run stopped on a finding, see $out.log:" >&2
  find "$out/crashes" -type f >&2
fi
if [ "$sanitize" != 0 ] && ! ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  nice -n 19 "build-fuzz/$dir/fuzz_$target" -runs=0 "$out/corpus" "$out/crashes" >"$out.sanitized.log" 2>&1; then
  echo "fuzz $target: the sanitizer build failed on a kept input: $out.sanitized.log" >&2
  status=1
fi
exit $status
