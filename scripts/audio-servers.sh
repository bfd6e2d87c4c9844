#!/usr/bin/env bash
# Private, headless audio servers for the integration tests and benchmarks:
# no hardware, a few null-sink test devices, their own runtime folder. They
# never touch the user's session server and work as root without systemd.
#
#   audio-servers.sh run pulseaudio|pipewire -- COMMAND...
#       start the server, run COMMAND against it, stop it; exits with COMMAND's status
#   audio-servers.sh start pulseaudio|pipewire
#       start in the background and print the exports (eval "$(... start pipewire)")
#   audio-servers.sh stop DIR
#       stop a server that `start` left running in DIR ($OSKEL_AUDIO_DIR)
#
# COMMAND sees PULSE_SERVER (the server's socket), OSKEL_AUDIO_SERVER (its
# kind), OSKEL_AUDIO_SERVER_PIDS (its processes, for CPU figures) and
# OSKEL_AUDIO_DIR. PipeWire runs as pipewire + wireplumber + pipewire-pulse
# inside dbus-run-session.
#
# Test devices (null sinks, each with a source remapped over its monitor, so
# that the catalogue lists them as duplex devices):
#   test_duplex   "Test Duplex"    2 channels, plays at 44100 Hz, records at 48000 Hz
#   test_surround "Test Surround"  6 channels at 48000 Hz
set -euo pipefail

script=$(readlink -f "$0")
surround_map=front-left,front-right,front-center,lfe,rear-left,rear-right

usage() {
  sed -n '2,16p' "$script" >&2
  exit 2
}

log() { echo "audio-servers: $*" >&2; }

server_env() {
  # Only the servers get the private folders; the command keeps its own home.
  server_vars=(
    XDG_RUNTIME_DIR="$dir/run" HOME="$dir/home" XDG_CONFIG_HOME="$dir/home/.config"
    XDG_STATE_HOME="$dir/home/.local/state" XDG_DATA_HOME="$dir/home/.local/share"
  )
  export PULSE_SERVER=unix:$dir/run/pulse/native
  unset PULSE_RUNTIME_PATH PIPEWIRE_REMOTE PIPEWIRE_RUNTIME_DIR
}

launch() {  # name, command...: start in the background, remember the pid
  local name=$1
  shift
  env "${server_vars[@]}" "$@" >"$dir/$name.log" 2>&1 &
  echo $! >>"$dir/pids"
}

stop_servers() {
  [ -f "$dir/pids" ] || return 0
  local pids pid
  pids=$(tac "$dir/pids")
  for pid in $pids; do kill -TERM "$pid" 2>/dev/null || true; done
  for _ in $(seq 30); do
    local alive=0
    for pid in $pids; do kill -0 "$pid" 2>/dev/null && alive=1; done
    [ $alive -eq 0 ] && break
    sleep 0.1
  done
  for pid in $pids; do kill -KILL "$pid" 2>/dev/null || true; done
  rm -f "$dir/pids"
}

show_logs() {
  for f in "$dir"/*.log; do
    [ -f "$f" ] && { echo "--- $f" >&2; tail -n 20 "$f" >&2; }
  done
}

wait_for() {  # description, test command...
  local what=$1
  shift
  for _ in $(seq 100); do
    "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  log "timed out waiting for $what"
  show_logs
  return 1
}

start_pulseaudio() {
  mkdir -p "$dir/run/pulse"
  chmod 700 "$dir/run" "$dir/run/pulse"
  # One rate family, so that an idle null sink keeps the rate it was given
  # instead of switching to its first stream's.
  mkdir -p "$dir/home/.config/pulse"
  cat >"$dir/home/.config/pulse/daemon.conf" <<EOF
default-sample-rate = 44100
alternate-sample-rate = 44100
EOF
  cat >"$dir/server.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/run/pulse/native
EOF
  launch pulseaudio pulseaudio -n -F "$dir/server.pa" --daemonize=no --exit-idle-time=-1 \
    --use-pid-file=no --disallow-exit --log-target=stderr --log-level=error
}

start_pipewire() {
  mkdir -p "$dir/run"
  chmod 700 "$dir/run"
  launch pipewire pipewire
  wait_for "pipewire" test -S "$dir/run/pipewire-0"
  launch wireplumber wireplumber
  launch pipewire-pulse pipewire-pulse
}

load() { pactl load-module "$@" >/dev/null; }

add_test_devices() {
  load module-null-sink sink_name=test_duplex "sink_properties='device.description=\"Test Duplex\"'" \
    format=float32le rate=44100 channels=2
  load module-remap-source master=test_duplex.monitor source_name=test_duplex.source \
    "source_properties='device.description=\"Test Duplex\" device.master_device=test_duplex.monitor'" \
    format=float32le rate=48000 channels=2
  load module-null-sink sink_name=test_surround "sink_properties='device.description=\"Test Surround\"'" \
    format=float32le rate=48000 channels=6 channel_map=$surround_map
  load module-remap-source master=test_surround.monitor source_name=test_surround.source \
    "source_properties='device.description=\"Test Surround\" device.master_device=test_surround.monitor'" \
    format=float32le rate=48000 channels=6 channel_map=$surround_map master_channel_map=$surround_map
  pactl set-default-sink test_duplex
  pactl set-default-source test_duplex.source
  # The session manager applies the defaults on its own time.
  wait_for "the test defaults" sh -c \
    'pactl info | grep -q "^Default Sink: test_duplex$" && pactl info | grep -q "^Default Source: test_duplex.source$"'
}

# Runs inside the session bus (PipeWire) or directly (PulseAudio).
inner() {
  local kind=$1
  dir=$2
  shift 3  # kind, dir, --
  trap stop_servers EXIT
  server_env
  case "$kind" in
    pulseaudio) start_pulseaudio ;;
    pipewire) start_pipewire ;;
  esac
  wait_for "$kind to answer" pactl info
  add_test_devices || { show_logs; return 1; }
  export OSKEL_AUDIO_SERVER=$kind OSKEL_AUDIO_DIR=$dir
  OSKEL_AUDIO_SERVER_PIDS=$(tr '\n' ' ' <"$dir/pids")
  export OSKEL_AUDIO_SERVER_PIDS
  "$@"
}

run() {
  local kind=$1
  shift
  [ "${1:-}" = "--" ] || usage
  case "$kind" in pulseaudio|pipewire) ;; *) usage ;; esac
  local own_dir=0
  dir=${OSKEL_AUDIO_DIR:-}
  if [ -z "$dir" ]; then
    dir=$(mktemp -d /tmp/oskel-audio.XXXXXX)
    own_dir=1
  fi
  mkdir -p "$dir/home"
  local status=0
  if [ "$kind" = pipewire ]; then
    # The session bus cannot raise its file limit in a container and says so
    # on every start; that line is noise here.
    dbus-run-session -- bash "$script" _inner "$kind" "$dir" "$@" \
      2> >(grep -v --line-buffered 'Failed to set fd limit' >&2) || status=$?
  else
    bash "$script" _inner "$kind" "$dir" "$@" || status=$?
  fi
  [ $own_dir -eq 1 ] && rm -rf "$dir"
  return $status
}

start() {
  local kind=$1
  case "$kind" in pulseaudio|pipewire) ;; *) usage ;; esac
  dir=$(mktemp -d /tmp/oskel-audio.XXXXXX)
  OSKEL_AUDIO_DIR=$dir setsid bash "$script" run "$kind" -- bash -c \
    'touch "$OSKEL_AUDIO_DIR/ready"; while [ ! -e "$OSKEL_AUDIO_DIR/stop" ]; do sleep 0.2; done' \
    >"$dir/run.log" 2>&1 </dev/null &
  echo $! >"$dir/runner"
  for _ in $(seq 200); do
    if [ -e "$dir/ready" ]; then
      echo "export PULSE_SERVER=unix:$dir/run/pulse/native OSKEL_AUDIO_SERVER=$kind OSKEL_AUDIO_DIR=$dir"
      return 0
    fi
    kill -0 "$(cat "$dir/runner")" 2>/dev/null || break
    sleep 0.1
  done
  log "$kind did not start"
  cat "$dir/run.log" >&2
  return 1
}

stop() {
  dir=${1:?usage: audio-servers.sh stop DIR}
  [ -f "$dir/runner" ] || { log "nothing started in $dir"; return 1; }
  touch "$dir/stop"
  local runner
  runner=$(cat "$dir/runner")
  for _ in $(seq 100); do
    kill -0 "$runner" 2>/dev/null || break
    sleep 0.1
  done
  rm -rf "$dir"
}

case "${1:-}" in
  run) shift; run "$@" ;;
  start) shift; start "$@" ;;
  stop) shift; stop "$@" ;;
  _inner) shift; inner "$@" ;;
  *) usage ;;
esac
