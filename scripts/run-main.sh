#!/usr/bin/env bash
# Installs what is needed and builds. With a display (X11 or Wayland) it opens
# the Oskel application; without one it runs the headless main job: the
# bundled recording translated by the command-line program. Without
# OPENAI_API_KEY or OSKEL_TOKEN that job runs against the built-in local
# service emulator, so it works offline.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release >/dev/null
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${OSKEL_HEADLESS:-}" ]; then
  exec build/OskelApp/app/oskel-app "$@"
fi
exec build/tools/oskel/oskel translate assets/speech-en.wav --to es -o build/translated.wav "$@"
