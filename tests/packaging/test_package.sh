#!/usr/bin/env bash
# Builds the Debian package from the build tree and checks what it holds and
# what it depends on.
#   usage: test_package.sh <build-dir>
set -euo pipefail
build="$1"
work="$(mktemp -d /tmp/tolvane-package-test.XXXXXX)"
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log" >&2; fail "cpack failed"; }
deb="$(ls "$work"/tolvane_*.deb)"
files="$(dpkg-deb -c "$deb" | awk '{print $NF}')"
for f in ./usr/bin/tolvane ./usr/share/tolvane/tolvane ./usr/share/tolvane/libtolvane-webview.so \
         ./usr/share/tolvane/radiolist.dat \
         ./usr/share/applications/org.tolvane.Tolvane.desktop \
         ./usr/share/metainfo/org.tolvane.Tolvane.metainfo.xml \
         ./usr/share/icons/hicolor/128x128/apps/tolvane.png; do
    grep -qxF "$f" <<<"$files" || fail "$f is not in the package"
done
dpkg-deb -x "$deb" "$work/root"
grep -q 'shipped="/usr/share/tolvane"' "$work/root/usr/bin/tolvane" || fail "the packaged launcher names another folder"
depends="$(dpkg-deb -f "$deb" Depends)"
echo "Depends: $depends"
# The browser engine, for the web view module.
for d in lame libqt6widgets6 libqt6webenginewidgets6 libcurl4 libpulse0 libavcodec59 libavformat59 libswresample4 libavutil57; do
    grep -q "$d" <<<"$depends" || fail "Depends lacks $d"
done
echo "package test passed: $(basename "$deb")"
