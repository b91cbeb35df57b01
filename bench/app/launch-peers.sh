#!/usr/bin/env bash
# The whole player beside the desktop radio players a Linux listener would
# pick instead (by hand, not in CI): launch to the first sound at the sound
# server's monitor, peak RSS and CPU per 20 s, on one loopback Icecast with
# an MP3 and an AAC mount at 128 kbit/s, three interleaved rounds, medians;
# a bare Qt window for what any Qt program costs, and the engine's
# command-line player against mpg123 on MP3. The desktop players are
# installed here only, for the comparison; Goodvibes (GTK) gets an Xvfb.
#   bench/app/launch-peers.sh [build-dir] [engine-bench options]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build}"
shift || true
peers=(audacious qmmp goodvibes strawberry clementine mpg123)
missing=()
for p in "${peers[@]}"; do command -v "$p" >/dev/null || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get install -y -qq "${missing[@]}"
fi
cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target engine-bench tolvane-play tolvane bench_bare_window
bash "$root/scripts/layout.sh" "$build" >/dev/null

xvfb=""
if command -v Xvfb >/dev/null; then
  for n in $(seq 90 140); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb=$!
    export DISPLAY=":$n"
    break
  done
fi
trap '[ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true' EXIT

"$build/bench/engine/engine-bench" --app "$build/Tolvane" --bare "$build/bench/app/bench_bare_window" \
  --codecs mp3,aac --aac-kbps 128 --seconds 20 --runs 3 \
  --players tolvane-app,bare-qt,audacious,qmmp,goodvibes,strawberry,clementine,tolvane,mpg123 "$@"
