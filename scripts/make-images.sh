#!/usr/bin/env bash
# Draws the pictures shipped in data/Images/ with ImageMagick: the program
# icon, the default station picture, the share pictures and the update
# window's loader picture. Each picture is drawn at four times its size and
# scaled down, which gives smooth edges. The results are committed, so this
# only needs to run again after a change here.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
out="$root/data/Images"
mkdir -p "$out"
command -v convert >/dev/null || { echo "ImageMagick (convert) is needed" >&2; exit 1; }

font="$(fc-match -f '%{file}' 'DejaVu Sans:bold' 2>/dev/null || true)"
[ -n "$font" ] && [ -f "$font" ] || font="DejaVu-Sans-Bold"

# Colours of the program's look.
DEEP="#142033" # night blue, top of the background
MID="#1e4a6e"  # lighter blue, bottom of the background
WAVE="#4fc3f7" # sky blue waves
GLOW="#ffb74d" # warm amber mast light

# Finishes a drawing: scale to the final size, 8-bit RGBA, no timestamps (so
# that a rerun gives identical files).
finish() { # finish <size> <output>
    printf '%s\n' -resize "$1" +repage -strip -define png:exclude-chunks=date,time -define png:color-type=6 "PNG32:$2"
}

# Draws the broadcast sign (a mast light between two pairs of arcs) on a
# transparent square layer of side $1 into file $2. ImageMagick strokes the
# closing chord of an open path, so each pair of arcs is a ring cut to two
# 90-degree wedges, with round caps added at the ends.
sign() { # sign <side> <output>
    local s=$1 c=$(($1 / 2))
    local w=$((s * 7 / 100)) dot=$((s * 9 / 100)) far=$s
    local rings=() caps=() r d h
    for r in $((s * 22 / 100)) $((s * 38 / 100)); do
        rings+=(-draw "circle $c,$c $((c + r)),$c")
        d=$((r * 707 / 1000)) # the ends of a 90-degree arc
        h=$((w / 2))
        local x y
        for x in $((c + d)) $((c - d)); do
            for y in $((c + d)) $((c - d)); do
                caps+=(-draw "circle $x,$y $((x + h)),$y")
            done
        done
    done
    convert -size "${s}x${s}" xc:none -fill none -stroke "$WAVE" -strokewidth "$w" "${rings[@]}" \
        \( -size "${s}x${s}" xc:none -fill white -stroke none \
           -draw "polygon $c,$c $((c + far)),$((c - far)) $((c + far)),$((c + far))" \
           -draw "polygon $c,$c $((c - far)),$((c - far)) $((c - far)),$((c + far))" \) \
        -compose DstIn -composite -compose Over \
        -stroke none -fill "$WAVE" "${caps[@]}" \
        -fill "$GLOW" -draw "circle $c,$c $((c + dot)),$c" "$2"
}

# A rounded tile of side $1 and corner radius $2 with the night gradient.
tile() { # tile <side> <radius> <output>
    convert -size "$1x$1" gradient:"$DEEP-$MID" -alpha set \
        \( -size "$1x$1" xc:none -fill white -draw "roundrectangle 0,0 $(($1 - 1)),$(($1 - 1)) $2,$2" \) \
        -compose DstIn -composite "$3"
}

tmp="$(mktemp -d)"
trap 'rm -rf "$tmp"' EXIT

# Program icon and default station picture: the broadcast sign on a tile.
S=1024
tile $S 200 "$tmp/tile-icon.png"
sign $S "$tmp/sign-icon.png"
for size in 256 64; do
    mapfile -t fin < <(finish "${size}x${size}" "$out/tolvane-$size.png")
    convert "$tmp/tile-icon.png" "$tmp/sign-icon.png" -composite "${fin[@]}"
done

S=320
tile $S 36 "$tmp/tile-station.png"
sign $S "$tmp/sign-station.png"
mapfile -t fin < <(finish 80x80 "$out/station.png")
convert "$tmp/tile-station.png" "$tmp/sign-station.png" -composite "${fin[@]}"

# Share pictures: a plain lower-case letter on a coloured rounded tile.
share() { # share <output> <colour> <letter>
    local s=160
    mapfile -t fin < <(finish 40x40 "$1")
    convert -size ${s}x${s} xc:none -fill "$2" \
        -draw "roundrectangle 0,0 $((s - 1)),$((s - 1)) 32,32" \
        -font "$font" -pointsize 118 -fill white -gravity center -annotate +0+8 "$3" "${fin[@]}"
}
share "$out/share-facebook.png" "#3b5998" "f"
share "$out/share-twitter.png" "#1d9bf0" "t"

# Loader picture of the update window (its picture area is 345 x 193).
W=1380
H=772
sign 420 "$tmp/sign-loader.png"
mapfile -t fin < <(finish 345x193 "$out/loader.png")
convert -size ${W}x${H} gradient:"$DEEP-$MID" \
    "$tmp/sign-loader.png" -geometry +$(((W - 420) / 2))+40 -composite \
    -font "$font" -pointsize 104 -fill white -gravity north -annotate +0+470 "Tolvane" \
    -font "$font" -pointsize 46 -fill "$WAVE" -gravity north -annotate +0+625 "Checking for updates" \
    "${fin[@]}"

ls -l "$out"
