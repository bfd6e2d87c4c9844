#!/usr/bin/env bash
# Installs OskelAudio.driver into the audio server's plug-in folder and
# restarts the server so the two devices appear. macOS only; uses sudo.
#
#   install.sh [BUNDLE]        default: build/OskelAudio.driver beside this script
#   install.sh --uninstall     removes the driver and restarts the server
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
plugins=/Library/Audio/Plug-Ins/HAL
installed="$plugins/OskelAudio.driver"

if [ "$(uname -s)" != Darwin ]; then
  echo "install.sh: the driver installs on macOS only" >&2
  exit 1
fi
as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

restart_audio_server() {
  # launchd starts it again at once; it then loads whatever is in the plug-in folder.
  "${as_root[@]}" /usr/bin/killall coreaudiod 2>/dev/null || true
}

if [ "${1:-}" = "--uninstall" ]; then
  "${as_root[@]}" /bin/rm -rf "$installed"
  restart_audio_server
  echo "removed $installed"
  exit 0
fi

bundle="${1:-$here/build/OskelAudio.driver}"
if [ ! -f "$bundle/Contents/Info.plist" ] || [ ! -f "$bundle/Contents/MacOS/OskelAudio" ]; then
  echo "install.sh: no driver bundle at $bundle (run build.sh first)" >&2
  exit 1
fi

# The old copy goes first so no file of an older version survives.
"${as_root[@]}" /bin/rm -rf "$installed"
"${as_root[@]}" /bin/mkdir -p "$plugins"
"${as_root[@]}" /bin/cp -R "$bundle" "$plugins/"
"${as_root[@]}" /usr/sbin/chown -R root:wheel "$installed"
restart_audio_server
echo "installed $installed"
