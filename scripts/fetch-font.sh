#!/usr/bin/env bash
# Fetches the seven-segment clock font (DSEG7 Classic Bold, SIL OFL 1.1) from
# npm and copies it with its licence into data/Fonts/. The result is committed,
# so this only needs to run again to move to another release of the font.
# The player registers it for the clock when the system has no font of the
# family the clock asks for.
set -euo pipefail

VERSION=0.46.0
SHA256=5a7d1b17c0f4d6debf2d592dd4c4122ad477601fe6342ffe8eb97f0a20e0b2f4

root="$(cd "$(dirname "$0")/.." && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cd "$work"
npm pack --silent "dseg@${VERSION}" >/dev/null
tarball="dseg-${VERSION}.tgz"
echo "${SHA256}  ${tarball}" | sha256sum -c --quiet -
tar xzf "$tarball"

mkdir -p "$root/data/Fonts"
install -m 644 package/fonts/DSEG7-Classic/DSEG7Classic-Bold.ttf "$root/data/Fonts/"
install -m 644 package/DSEG-LICENSE.txt "$root/data/Fonts/"
echo "data/Fonts: DSEG7Classic-Bold.ttf (family \"DSEG7 Classic\", style Bold) from dseg ${VERSION}"
