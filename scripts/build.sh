#!/usr/bin/env bash
# Configures and builds one flavour of the project with Ninja.
#   scripts/build.sh            -> build/        (RelWithDebInfo)
#   scripts/build.sh asan       -> build-asan/   (AddressSanitizer + UBSan)
#   scripts/build.sh tsan       -> build-tsan/   (ThreadSanitizer)
#   scripts/build.sh fuzz       -> build-fuzz/   (libFuzzer targets under ASan+UBSan; only those)
#   scripts/build.sh fuzz-plain -> build-fuzz-plain/ (the same without sanitizers: faster)
set -euo pipefail
cd "$(dirname "$0")/.."

flavour=${1:-release}
shift || true
jobs=${OSKEL_JOBS:-$(nproc)}
case "$flavour" in
  release) dir=build; args=() ;;
  asan) dir=build-asan; args=(-DOSKEL_ASAN=ON -DOSKEL_BENCH=OFF -DOSKEL_VIEWS=OFF) ;;
  tsan) dir=build-tsan; args=(-DOSKEL_TSAN=ON -DOSKEL_BENCH=OFF) ;;
  fuzz) dir=build-fuzz; args=(-DOSKEL_FUZZ=ON -DOSKEL_ASAN=ON -DOSKEL_BENCH=OFF) ;;
  fuzz-plain) dir=build-fuzz-plain; args=(-DOSKEL_FUZZ=ON -DOSKEL_BENCH=OFF) ;;
  *) echo "unknown flavour: $flavour" >&2; exit 2 ;;
esac

# ccache, when present, makes rebuilds and other checkouts of the same sources
# cheap; paths are taken relative to the checkout so every clone shares it.
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$PWD" CCACHE_NOHASHDIR=1 CCACHE_MAXSIZE=${CCACHE_MAXSIZE:-20G}
  args+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi

# Configure every time: cheap when nothing changed, and new subsystem folders are picked up.
cmake -S . -B "$dir" -G Ninja "${args[@]}" >/dev/null
[[ "$flavour" != fuzz* ]] || (($#)) || set -- --target fuzz_targets
cmake --build "$dir" -j "$jobs" "$@"
