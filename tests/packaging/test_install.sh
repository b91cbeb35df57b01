#!/usr/bin/env bash
# Installs into a temporary prefix, validates the desktop entry and the
# AppStream file, then runs the launcher twice with a temporary
# XDG_DATA_HOME: the user's program folder is made, kept, and refreshed
# without touching the user's files, and the player ends cleanly on SIGTERM
# and SIGINT with its settings saved.
#   usage: test_install.sh <build-dir>
set -euo pipefail
build="$1"
work="$(mktemp -d /tmp/tolvane-install-test.XXXXXX)"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    # A player that ignored the signal (the failure this test is about) must
    # not outlive the test.
    sleep 0.5
    for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix="$work/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null

for f in bin/tolvane share/tolvane/tolvane share/tolvane/libtolvane-webview.so \
         share/tolvane/radiolist.dat \
         share/tolvane/settings/settings.dat share/tolvane/Skins/Midnight.qss \
         share/applications/org.tolvane.Tolvane.desktop \
         share/metainfo/org.tolvane.Tolvane.metainfo.xml \
         share/icons/hicolor/48x48/apps/tolvane.png share/icons/hicolor/256x256/apps/tolvane.png; do
    [ -e "$prefix/$f" ] || fail "$f was not installed"
done
[ -x "$prefix/bin/tolvane" ] || fail "the launcher is not executable"
grep -q "shipped=\"$prefix/share/tolvane\"" "$prefix/bin/tolvane" || fail "the launcher names another folder"
[ ! -e "$prefix/share/tolvane/system/lame" ] || fail "the build's encoder link was installed"
# The browser engine comes only with the web view module, which the player
# loads from beside its own file when the lyrics window is first shown.
needed() { readelf -d "$1" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p'; }
needed "$prefix/share/tolvane/tolvane" | grep -q WebEngine && fail "the player links the browser engine"
needed "$prefix/share/tolvane/libtolvane-webview.so" | grep -q '^libQt6WebEngineWidgets' ||
    fail "the web view module does not link the browser engine"
ldd "$prefix/share/tolvane/libtolvane-webview.so" | grep -q 'not found' &&
    fail "the web view module's libraries are missing: $(ldd "$prefix/share/tolvane/libtolvane-webview.so")"
# Read whole before searching: grep -q ending early would cut readelf off.
symbols=$(readelf --dyn-syms -W "$prefix/share/tolvane/libtolvane-webview.so")
for entry in interface create load; do
    grep -q " tolvane_webview_$entry\$" <<<"$symbols" ||
        fail "the web view module lacks tolvane_webview_$entry"
done
# The name the player looks for (a UTF-16 string in the program).
grep -qxF libtolvane-webview.so <<<"$(strings -e l "$prefix/share/tolvane/tolvane")" ||
    fail "the player looks for another module"
desktop-file-validate "$prefix/share/applications/org.tolvane.Tolvane.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/org.tolvane.Tolvane.metainfo.xml" >/dev/null ||
    appstreamcli validate --no-net "$prefix/share/metainfo/org.tolvane.Tolvane.metainfo.xml"

# A sound server of the test's own: the player needs an output to start.
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
pulseaudio --daemonize=no --system=false --exit-idle-time=-1 -n \
    --load=module-null-sink --load=module-native-protocol-unix >/dev/null 2>&1 &
pids+=($!)
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
for _ in $(seq 100); do [ -S "$XDG_RUNTIME_DIR/pulse/native" ] && break; sleep 0.1; done
[ -S "$XDG_RUNTIME_DIR/pulse/native" ] || fail "no sound server"

export XDG_DATA_HOME="$work/data" QT_QPA_PLATFORM=offscreen
user="$XDG_DATA_HOME/tolvane"
# The user's settings and every outside host point at this machine, so
# nothing reaches beyond it; being the user's, they must survive.
mkdir -p "$user/settings"
printf '[radio]\r\nwebsite=http://127.0.0.1:9\r\nupdate=false\r\n' >"$user/settings/settings.dat"
printf '[services]\n' >"$user/settings/services.dat"
for key in main radio site lyrics facebook twitter facebookpage twitterpage; do
    echo "$key=http://127.0.0.1:9" >>"$user/settings/services.dat"
done

# Starts the launcher, waits for the player's working catalog, sends the
# signal and waits (bounded) for a clean end.
run_and_stop() { # run_and_stop <signal>
    "$prefix/bin/tolvane" >"$work/player.log" 2>&1 &
    local pid=$!
    pids+=("$pid")
    for _ in $(seq 300); do [ -e "$user/temp.dat" ] && break; sleep 0.1; done
    [ -e "$user/temp.dat" ] || { cat "$work/player.log" >&2; fail "the player did not start"; }
    sleep 0.5
    kill -s "$1" "$pid"
    local code=0
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -0 "$pid" 2>/dev/null && fail "the player did not end on $1"
    wait "$pid" || code=$?
    [ "$code" -eq 0 ] || { cat "$work/player.log" >&2; fail "the player ended with $code on $1"; }
}

run_and_stop TERM
[ -L "$user/system/lame" ] || fail "system/lame is not a link"
[ "$(readlink "$user/system/lame")" = "$(command -v lame || echo /usr/bin/lame)" ] || fail "system/lame points elsewhere"
[ "$(readlink "$user/tolvane")" = "$prefix/share/tolvane/tolvane" ] || fail "tolvane is not linked"
[ ! -e "$user/libtolvane-webview.so" ] || fail "the web view module was copied into the user's folder"
cmp -s "$prefix/share/tolvane/radiolist.dat" "$user/radiolist.dat" || fail "the catalog was not copied"
[ -e "$user/Skins/Midnight.qss" ] || fail "the skins were not copied"
[ ! -e "$user/temp.dat" ] || fail "the working catalog was left behind"
grep -q '^version=1.3' "$user/settings/settings.dat" || fail "the settings were not saved at the end"
grep -q '^website=http://127.0.0.1:9' "$user/settings/settings.dat" || fail "the user's settings were replaced"
grep -q '^main=http://127.0.0.1:9' "$user/settings/services.dat" || fail "a newer user file was replaced"

# The user's own files, and a newer shipped catalog.
printf '[My Station]\r\nstreaming=http://127.0.0.1:9/mine\r\n' >"$user/radiouser.dat"
printf '[Favorite]\r\nstreaming=http://127.0.0.1:9/fav\r\n' >"$user/favorites.dat"
mkdir -p "$user/Recorded/My Station" && echo audio >"$user/Recorded/My Station/Song.mp3"
cp "$user/settings/settings.dat" "$work/settings.before"
printf '\r\n[Brand New FM]\r\nstreaming=http://127.0.0.1:9/new\r\n' >>"$prefix/share/tolvane/radiolist.dat"
touch -d '+1 minute' "$prefix/share/tolvane/radiolist.dat"
touch -d '+1 minute' "$prefix/share/tolvane/settings/settings.dat"

run_and_stop INT
grep -q 'Brand New FM' "$user/radiolist.dat" || fail "the newer shipped catalog did not replace the old one"
grep -q 'My Station' "$user/radiouser.dat" || fail "radiouser.dat was touched"
grep -q 'Favorite' "$user/favorites.dat" || fail "favorites.dat was touched"
[ "$(cat "$user/Recorded/My Station/Song.mp3")" = audio ] || fail "a recording was touched"
grep -q '^website=http://127.0.0.1:9' "$user/settings/settings.dat" || fail "the user's settings were replaced"
echo "install test passed"
