#!/usr/bin/env bash
# Builds and runs the engine benchmark (by hand, not in CI). The players to
# compare with are installed here only: mpv, mpg123, mplayer (ffplay comes
# with ffmpeg).
#   bench/engine/run-bench.sh [build-dir] [--seconds N]
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="${1:-$root/build-bench}"
shift || true
if ! command -v mpv >/dev/null || ! command -v mpg123 >/dev/null || ! command -v mplayer >/dev/null; then
  SUDO=""; [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get install -y -qq --no-install-recommends mpv mpg123 mplayer
fi
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target engine-bench tolvane-play
"$build/bench/engine/engine-bench" "$@"
