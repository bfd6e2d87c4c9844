#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Idempotent and quiet: only missing packages are installed.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libboost1.81-dev libboost-json1.81-dev libssl-dev ca-certificates openssl
  libfmt-dev libcli11-dev
  libspeexdsp-dev libicu-dev
  libpulse-dev pulseaudio pulseaudio-utils
  pipewire pipewire-pulse wireplumber pipewire-bin dbus dbus-x11
  espeak-ng sox xdg-user-dirs ccache
  dpkg-dev lintian desktop-file-utils appstream
  qt6-base-dev qt6-tools-dev qt6-l10n-tools qtkeychain-qt6-dev libsecret-1-0 gnome-keyring libsecret-tools
  xvfb xauth fonts-wqy-microhei
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
echo "setup: all packages present"
