#!/usr/bin/env bash
# Installs the Debian packages needed to build, run and test Tolvane.
# Idempotent: packages already present are not fetched again.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools libqt6opengl6-dev qt6-webengine-dev
  libgl-dev libxkbcommon-dev
  libcurl4-openssl-dev libssl-dev openssl
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libmpg123-dev libfaad-dev
  libtag1-dev
  dbus-daemon libglib2.0-bin playerctl
  libpulse-dev
  lame
  icecast2 ffmpeg pulseaudio pulseaudio-utils
  xvfb xauth x11-apps imagemagick trayer xdotool
  fonts-dejavu-core
  curl ca-certificates procps
  clang-format clang-tidy
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  desktop-file-utils appstream dpkg-dev
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
