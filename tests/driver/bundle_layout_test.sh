#!/usr/bin/env bash
# Checks the bundle build.sh makes: the layout the audio server expects, the
# property list that names the factory, and a binary that exports it.
#   bundle_layout_test.sh BUILD_SH DRIVER_BINARY OUTPUT_DIR
set -euo pipefail
build_sh=$1 binary=$2 out=$3

fail() { echo "FAIL: $*" >&2; exit 1; }

rm -rf "$out"
if (cd /tmp && bash "$build_sh" "$out") >/dev/null 2>&1 && [ "$(uname -s)" != Darwin ]; then
  fail "build.sh compiled off macOS without a prebuilt binary"
fi
bundle=$(OSKEL_DRIVER_PREBUILT="$binary" OSKEL_DRIVER_VERSION=2.3.4 bash "$build_sh" "$out")
[ "$bundle" = "$out/OskelAudio.driver" ] || fail "build.sh printed '$bundle'"

contents="$bundle/Contents"
plist="$contents/Info.plist"
[ -f "$contents/MacOS/OskelAudio" ] || fail "no executable in Contents/MacOS"
[ -f "$plist" ] || fail "no Info.plist"
[ "$(head -c 4 "$contents/Resources/DeviceIcon.icns")" = icns ] || fail "DeviceIcon.icns is not an icns file"

# The string value that follows a key (the template puts it on the next line).
value_of() { grep -A1 "<key>$1</key>" "$plist" | sed -n '2s/.*<string>\(.*\)<\/string>.*/\1/p'; }

[ "$(value_of CFBundleIdentifier)" = com.brindlework.oskelaudio ] || fail "bundle identifier"
[ "$(value_of CFBundleExecutable)" = OskelAudio ] || fail "executable name"
[ "$(value_of CFBundlePackageType)" = BNDL ] || fail "package type"
[ "$(value_of CFBundleVersion)" = 2.3.4 ] || fail "version not substituted"
! grep -q @ "$plist" || fail "placeholder left in Info.plist"

factory_uuid=$(grep -A2 '<key>CFPlugInFactories</key>' "$plist" | sed -n '3s/.*<key>\(.*\)<\/key>.*/\1/p')
[ -n "$factory_uuid" ] || fail "no factory in CFPlugInFactories"
[ "$(value_of "$factory_uuid")" = OskelAudio_Create ] || fail "factory $factory_uuid does not name OskelAudio_Create"
grep -A3 '<key>CFPlugInTypes</key>' "$plist" | grep -q '<key>443ABAB8-E7B3-491A-B985-BEB9187030DB</key>' ||
  fail "not registered for the audio server plug-in type"
grep -A5 '<key>CFPlugInTypes</key>' "$plist" | grep -q "<string>$factory_uuid</string>" ||
  fail "the plug-in type does not list the factory"

if command -v nm >/dev/null && [ "$(uname -s)" != Darwin ]; then
  nm -D --defined-only "$contents/MacOS/OskelAudio" | grep -qw OskelAudio_Create || fail "binary does not export the factory"
fi
echo "bundle layout ok: $bundle"
