#!/usr/bin/env bash
# Installs what is needed, builds, and translates the bundled recording.
# Without OPENAI_API_KEY or OSKEL_TOKEN it runs against the built-in local
# service emulator, so it works offline.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
bash scripts/build.sh release >/dev/null
exec build/tools/oskel/oskel translate assets/speech-en.wav --to es -o build/translated.wav "$@"
