#!/usr/bin/env bash
# Builds OskelAudio.driver, the plug-in bundle the macOS audio server loads
# from /Library/Audio/Plug-Ins/HAL. Needs macOS with the command-line tools.
#
#   build.sh [OUTPUT_DIR]      makes OUTPUT_DIR/OskelAudio.driver (default: build/ beside this script)
#
# Environment:
#   OSKEL_DRIVER_VERSION     bundle version (default 1.0.0)
#   OSKEL_DRIVER_ARCHS       architectures of the binary (default "arm64 x86_64")
#   OSKEL_CODESIGN_IDENTITY  signing identity (default "-", ad hoc)
#   OSKEL_DRIVER_PREBUILT    package this binary instead of compiling one; lets
#                            the bundle layout be checked on other systems
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
out="${1:-$here/build}"
version="${OSKEL_DRIVER_VERSION:-1.0.0}"
prebuilt="${OSKEL_DRIVER_PREBUILT:-}"
bundle="$out/OskelAudio.driver"
contents="$bundle/Contents"

if [ -z "$prebuilt" ] && [ "$(uname -s)" != Darwin ]; then
  echo "build.sh: the driver bundle is built on macOS (OSKEL_DRIVER_PREBUILT packages an existing binary)" >&2
  exit 1
fi
case "$version" in
  *[!0-9.]* | "") echo "build.sh: OSKEL_DRIVER_VERSION must be dotted numbers, got '$version'" >&2; exit 1 ;;
esac

sources=(PlugIn.c Properties.c PlugInProperties.c DeviceProperties.c StreamProperties.c LoopbackIO.c)

rm -rf "$bundle"
mkdir -p "$contents/MacOS" "$contents/Resources"

if [ -n "$prebuilt" ]; then
  cp "$prebuilt" "$contents/MacOS/OskelAudio"
else
  arch_flags=()
  for arch in ${OSKEL_DRIVER_ARCHS:-arm64 x86_64}; do arch_flags+=(-arch "$arch"); done
  (cd "$here" && xcrun clang -std=c11 -O2 -Wall -Wextra -Werror -fvisibility=hidden \
    -mmacosx-version-min=12.0 "${arch_flags[@]}" -I . \
    -bundle -framework CoreAudio -framework CoreFoundation \
    -o "$contents/MacOS/OskelAudio" "${sources[@]}")
fi

sed -e "s/@VERSION@/$version/g" "$here/Info.plist.in" > "$contents/Info.plist"
cp "$here/Resources/DeviceIcon.icns" "$contents/Resources/DeviceIcon.icns"

if [ -z "$prebuilt" ]; then
  plutil -lint "$contents/Info.plist" >/dev/null
  codesign --force --sign "${OSKEL_CODESIGN_IDENTITY:--}" --timestamp=none "$bundle"
fi
echo "$bundle"
