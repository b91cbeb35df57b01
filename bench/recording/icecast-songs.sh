#!/usr/bin/env bash
# Songs as a new user hears and records them from a real Icecast: a source
# plays songs of steady tones (one frequency per song) and sets each title
# through Icecast's admin interface as its song's first byte goes out (Ogg
# sources chain a new stream per song instead). The laid-out player, on a
# private Xvfb, PulseAudio and session bus, plays the mount by itself with
# splitting and the exact cut on, "rec" is pressed through AT-SPI, and after
# the songs the recording is stopped. It prints when the title label changed
# against when each tone was heard at the PulseAudio monitor, and for each
# recorded file how many seconds of which song it holds and whether it
# decodes cleanly.
#   bench/recording/icecast-songs.sh [build-dir] [mp3|aac|ogg|opus] [lame|original]
#   SONGS=6 SECONDS=15 to change the songs (run by hand).
# Needs: icecast2 ffmpeg pulseaudio pulseaudio-utils xvfb xdotool at-spi2-core
# python3-pyatspi dbus.
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
build="$(cd "${1:-$root/build}" && pwd)"
codec="${2:-mp3}"
format="${3:-original}"
songs="${SONGS:-6}"
seconds="${SECONDS_PER_SONG:-15}"
[ -x "$build/Tolvane/tolvane" ] || { echo "lay out $build/Tolvane first (make layout)" >&2; exit 1; }

source "$root/tools/a11y/loopback-desktop.sh"
start_scratch
tool="$root/bench/recording/icecast_songs.py"

port="$(free_port)"
start_icecast "$work/ice" "$port"
start_pulse "$work/pulse"
start_xvfb 70 20

mount="/songs.$codec"
mkdir -p "$work/src" "$work/rec"
/usr/bin/python3 "$tool" source "$port" "$mount" "$codec" "$songs" "$seconds" "$work/src" \
    > "$work/sent.log" &
source_pid=$!
pids+=($source_pid)
for _ in $(seq 100); do
    [ "$(curl -s -o /dev/null -w '%{http_code}' --max-time 4 "http://127.0.0.1:$port$mount")" = 200 ] &&
        break
    sleep 0.2
done

cp -a "$build/Tolvane" "$work/Tolvane"
cat > "$work/Tolvane/settings/settings.dat" <<INI
[radio]
website=http://127.0.0.1:9
update=false
autostart=true
station=http://127.0.0.1:$port$mount
name=Loopback Songs
Volume=100
separate=true
[record]
recdir=$work/rec
exact=true
format=$format
INI
no_services "$work/Tolvane"

/usr/bin/python3 "$tool" placement "$port" "$mount" "$((songs * seconds))" > "$work/placement.txt" &
placement_pid=$!

export work tool songs seconds root
watch_seconds=$((songs * seconds + 10))
dbus-run-session -- bash -euo pipefail -c '
    driver="$root/tools/a11y/driver.py"
    (cd "$work/Tolvane" && exec ./tolvane) >"$work/player.log" 2>&1 &
    player=$!
    /usr/bin/python3 "$tool" watch "$1" "$work/events.json" &
    watcher=$!
    # The start-up tells that there is no connection to the publisher; the
    # station plays once its boxes are answered, and has begun once a
    # song title shows.
    for _ in $(seq 60); do
        case "$(playerctl --player=tolvane metadata title 2>/dev/null)" in *"Song "[0-9]*) break ;; esac
        [ "$(/usr/bin/python3 "$driver" boxes)" = 0 ] || timeout 5 /usr/bin/python3 "$driver" press OK || true
        sleep 0.5
    done
    # A box "rec" opens holds the press'"'"'s reply: the press goes on alone.
    /usr/bin/python3 "$driver" press rec >/dev/null 2>&1 &
    sleep 2
    if [ -n "${SHOT:-}" ]; then import -window root "$SHOT"; /usr/bin/python3 "$driver" windows; fi
    wait $watcher || true
    kill -TERM $player; wait $player || true
' _ "$watch_seconds"
wait "$source_pid" 2>/dev/null || true
echo "== $codec from Icecast, recorded as $format, $songs songs of $seconds s"
/usr/bin/python3 "$tool" analyse "$work/rec" "$songs" "$seconds" "$work/events.json"
wait "$placement_pid" || true
cat "$work/placement.txt"
