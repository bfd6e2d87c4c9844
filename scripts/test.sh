#!/usr/bin/env bash
# Installs what is needed, builds, starts the private audio servers and runs
# the whole test suite: the release build, then the sanitizer builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

status=0
run_suite() {
  local flavour=$1 dir=$2
  shift 2
  echo "== $flavour build"
  bash scripts/build.sh "$flavour"
  echo "== $flavour tests"
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)" "$@") || status=1
}

run_suite release build
if [ -z "${OSKEL_QUICK:-}" ]; then
  run_suite asan build-asan
  run_suite tsan build-tsan -L concurrency
fi
exit $status
