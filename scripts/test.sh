#!/usr/bin/env bash
# Installs what is needed, builds, starts the private audio servers and runs
# the whole test suite: the release build, then the sanitizer builds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

status=0
stage() { echo "== $* (at ${SECONDS}s)"; }
# run_suite FLAVOUR DIR [BUILD TARGET...] -- [CTEST ARGS...]
run_suite() {
  local flavour=$1 dir=$2 targets=()
  shift 2
  while [ "$1" != "--" ]; do targets+=("$1"); shift; done
  shift
  stage "$flavour build"
  bash scripts/build.sh "$flavour" ${targets[@]+--target "${targets[@]}"}
  stage "$flavour tests"
  (cd "$dir" && ctest --output-on-failure -j "$(nproc)" "$@") || status=1
}

# Tests that need a real audio server ("audio-server" label) run apart, on
# private headless servers (scripts/audio-servers.sh), never on the user's own.
# They share two cores with a real-time server, so a failed test gets one rerun.
audio_server_tests() {
  local dir=$1
  shift
  for server in "$@"; do
    stage "audio-server tests on $server ($dir)"
    bash scripts/audio-servers.sh run "$server" -- \
      ctest --test-dir "$dir" --output-on-failure --repeat until-pass:2 -L audio-server || status=1
  done
}

run_suite release build -- -LE audio-server
stage "packaging test"
bash tests/packaging/package-test.sh || status=1
audio_server_tests build pulseaudio pipewire
if [ -z "${OSKEL_QUICK:-}" ]; then
  run_suite asan build-asan -- -LE audio-server
  audio_server_tests build-asan pulseaudio
  run_suite tsan build-tsan concurrency_tests -- -L concurrency -LE audio-server
fi
stage "done, status $status"
exit $status
