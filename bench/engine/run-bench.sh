#!/usr/bin/env bash
# Builds and runs the engine benchmark (by hand, not in CI). The players to
# compare with are installed here only: mpv, mpg123, mplayer and VLC (ffplay
# comes with ffmpeg). The program folder is laid out too, so that the whole
# player is timed from its launch as well.
#   bench/engine/run-bench.sh [build-dir] [engine-bench options]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build-bench}"
shift || true
if ! command -v mpv >/dev/null || ! command -v mpg123 >/dev/null || ! command -v mplayer >/dev/null ||
    ! command -v cvlc >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get install -y -qq --no-install-recommends mpv mpg123 mplayer vlc-bin vlc-plugin-base
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target engine-bench tolvane-play tolvane
bash "$root/scripts/layout.sh" "$build" >/dev/null
"$build/bench/engine/engine-bench" --app "$build/Tolvane" "$@"
