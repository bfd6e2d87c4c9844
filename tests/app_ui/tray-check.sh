#!/usr/bin/env bash
# Runs the window suites on the xcb platform under Xvfb, on a private session
# bus where a stand-in status-notifier watcher says a tray host is there: the
# tray test then must run, not skip.
set -euo pipefail
tests=$1 watcher=$2
for tool in Xvfb xvfb-run xauth dbus-run-session; do
  command -v "$tool" >/dev/null || { echo "tray test skipped: $tool is not installed (scripts/setup.sh installs it)"; exit 77; }
done
export QT_QPA_PLATFORM=xcb OSKEL_TRAY_REQUIRED=1
unset DBUS_SESSION_BUS_ADDRESS DISPLAY
exec dbus-run-session -- xvfb-run -a -s "-screen 0 1280x800x24" "$watcher" "$tests" "${@:3}"
