#!/usr/bin/env bash
# A private Secret Service for the keychain tests: gnome-keyring-daemon,
# unlocked, on a private session bus, with its own home folder. Never the
# user's own keyring.
#
#   keyring-session.sh run -- COMMAND...
#       start the bus and the keyring, run COMMAND inside, stop both;
#       exits with COMMAND's status
set -euo pipefail

script=$(readlink -f "$0")

usage() {
  sed -n '2,9p' "$script" >&2
  exit 2
}

run() {
  [ "${1:-}" = "--" ] || usage
  shift
  local dir status=0
  dir=$(mktemp -d /tmp/oskel-keyring.XXXXXX)
  mkdir -p "$dir/home" "$dir/run"
  chmod 700 "$dir/run"
  # The keyring lives under HOME and XDG_DATA_HOME; both are private.
  HOME=$dir/home XDG_RUNTIME_DIR=$dir/run XDG_CONFIG_HOME=$dir/home/.config \
    XDG_DATA_HOME=$dir/home/.local/share XDG_CACHE_HOME=$dir/home/.cache \
    dbus-run-session -- bash "$script" _inner "$@" \
    2> >(grep -v --line-buffered 'Failed to set fd limit' >&2) || status=$?
  rm -rf "$dir"
  return $status
}

inner() {
  # The daemon must own the bus name before any client asks for it: otherwise
  # D-Bus activates a second daemon that has no keyring to write into.
  echo -n oskel-test | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  "$@"
}

case "${1:-}" in
  run) shift; run "$@" ;;
  _inner) shift; inner "$@" ;;
  *) usage ;;
esac
