#!/usr/bin/env bash
# Builds the Debian package with CPack from the release build (build/):
#   bash scripts/package.sh        -> build/package/oskel_<version>-<build>_<arch>.deb
# OSKEL_BUILD_NUMBER=N sets the build number the updater compares (kept in
# build/ until changed). The version is the top-level project() version.
set -euo pipefail
cd "$(dirname "$0")/.."
[ -n "${OSKEL_SKIP_SETUP:-}" ] || bash scripts/setup.sh >/dev/null

if [ -n "${OSKEL_BUILD_NUMBER:-}" ]; then
  cmake -S . -B build -G Ninja -DOSKEL_BUILD_NUMBER="$OSKEL_BUILD_NUMBER" >/dev/null
fi
# Only what the package holds; CPack itself does not build (the install
# rules do not depend on "all").
bash scripts/build.sh release --target oskel_package_contents
rm -rf build/package
cpack --config build/CPackConfig.cmake -B build/package >/dev/null
deb=$(ls build/package/*.deb)
echo "$deb"
