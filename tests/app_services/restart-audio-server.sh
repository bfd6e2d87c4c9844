#!/usr/bin/env bash
# Restarts the private audio server of scripts/audio-servers.sh
# ($OSKEL_AUDIO_DIR, $OSKEL_AUDIO_SERVER) as a new login would start the
# user's server, so a test sees what the server reads at start:
#   pipewire:   pipewire-pulse again, with the same arguments and environment
#   pulseaudio: the server again, then what the user's service manager runs
#               after it starts (the ExecStartPost lines of pulseaudio.service
#               drop-ins; no systemd runs here)
set -euo pipefail
dir=${OSKEL_AUDIO_DIR:?run inside scripts/audio-servers.sh}
case ${OSKEL_AUDIO_SERVER:?} in
  pipewire) name=pipewire-pulse ;;
  pulseaudio) name=pulseaudio ;;
  *) exit 2 ;;
esac

pid=
for candidate in $(cat "$dir/pids"); do
  [ "$(ps -o comm= -p "$candidate" 2>/dev/null)" = "$name" ] && pid=$candidate
done
[ -n "$pid" ] || { echo "restart: no running $name" >&2; exit 1; }
mapfile -d '' argv <"/proc/$pid/cmdline"
mapfile -d '' environment <"/proc/$pid/environ"

kill -TERM "$pid"
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done

env -i "${environment[@]}" "${argv[@]}" >>"$dir/$name.log" 2>&1 &
echo $! >>"$dir/pids"  # so that audio-servers.sh stops it
for _ in $(seq 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null

if [ "$name" = pulseaudio ]; then
  config=$(printf '%s\n' "${environment[@]}" | sed -n 's/^XDG_CONFIG_HOME=//p')
  for dropin in "$config"/systemd/user/pulseaudio.service.d/*.conf; do
    [ -f "$dropin" ] || continue
    while IFS= read -r line; do
      command=${line#ExecStartPost=}
      [ "$command" = "$line" ] && continue
      # "-": a failure is ignored, as systemd does.
      sh -c "${command#-}" >/dev/null || [ "${command:0:1}" = "-" ]
    done <"$dropin"
  done
fi
