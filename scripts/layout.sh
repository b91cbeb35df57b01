#!/usr/bin/env bash
# Lays out the program folder <build-dir>/Tolvane/ from the shipped data/
# and the built programs:
#   - copies every file of data/ into it, replacing shipped files that
#     differ, but never a user's settings/settings.dat, radiouser.dat or
#     favorites.dat that is already there (the installed settings file is
#     copied only when none exists);
#   - links the player (src/app/tolvane), its web view module
#     (src/app/libtolvane-webview.so, loaded by the lyrics window) and the
#     updater (src/update/TolvaneUpdate) of the build into it when they were
#     built, so that the folder the player writes holds no code of its own;
#   - links system/lame to the encoder program /usr/bin/lame.
# Running it again changes only what changed. Nothing else in the folder
# (recordings, the working catalog, downloaded files) is touched.
#   usage: scripts/layout.sh <build-dir>
set -euo pipefail

if [ $# -ne 1 ] || [ -z "$1" ]; then
    echo "usage: $0 <build-dir>" >&2
    exit 2
fi

root="$(cd "$(dirname "$0")/.." && pwd)"
data="$root/data"
[ -d "$data" ] || { echo "$0: $data is missing" >&2; exit 1; }

mkdir -p "$1/Tolvane"
build="$(cd "$1" && pwd)"
dest="$build/Tolvane"

# Files that belong to the user once they exist.
is_user_file() {
    case "$1" in
        settings/settings.dat | radiouser.dat | favorites.dat) return 0 ;;
        *) return 1 ;;
    esac
}

copied=0
kept=0
while IFS= read -r -d '' dir; do
    mkdir -p "$dest/${dir#./}"
done < <(cd "$data" && find . -mindepth 1 -type d -print0)

while IFS= read -r -d '' file; do
    rel="${file#./}"
    target="$dest/$rel"
    if is_user_file "$rel" && { [ -e "$target" ] || [ -L "$target" ]; }; then
        kept=$((kept + 1))
        continue
    fi
    if [ -f "$target" ] && [ ! -L "$target" ] && cmp -s "$data/$rel" "$target"; then
        continue
    fi
    # Copy beside the target, then rename: a half-copied file never shows.
    tmp="$(dirname "$target")/.layout.$$.$(basename "$target")"
    cp -p "$data/$rel" "$tmp"
    mv -fT "$tmp" "$target"
    copied=$((copied + 1))
done < <(cd "$data" && find . -type f -print0)

# Links to the built programs rather than copies: the program folder is
# written by the player (settings, catalog, downloads), and a program file
# there could be replaced through it. A link is replaced (atomically) only
# when it points elsewhere; a copy left by an older layout becomes a link.
link_program() { # link_program <path under the build dir> <name in the program folder>
    if [ -x "$build/$1" ] && [ -f "$build/$1" ]; then
        if [ ! -L "$dest/$2" ] || [ "$(readlink "$dest/$2")" != "$build/$1" ]; then
            ln -sfn "$build/$1" "$dest/.layout.$$.$2"
            mv -fT "$dest/.layout.$$.$2" "$dest/$2"
        fi
    fi
}
link_program src/app/tolvane tolvane
link_program src/app/libtolvane-webview.so libtolvane-webview.so
link_program src/update/TolvaneUpdate TolvaneUpdate

mkdir -p "$dest/system"
ln -sfn /usr/bin/lame "$dest/system/lame"

echo "layout: $dest ($copied file(s) copied, $kept user file(s) kept)"
