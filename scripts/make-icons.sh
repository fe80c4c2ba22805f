#!/usr/bin/env bash
# Draws Korvane's icon and writes res/app.png (128 x 128 RGBA, the window icon) and
# res/app.ico (16, 32 and 48 pixels, 32 bits each, for the Windows executable) from it.
# Both outputs are committed; run this again only when the artwork changes.
# Needs ImageMagick's convert (scripts/install-deps.sh installs it).
set -euo pipefail
cd "$(dirname "$0")/../res"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A teal tile with a light rim, a board chip in the middle and an amber tick for a
# written proof.
convert -size 128x128 xc:none \
  -fill '#0e5a68' -stroke '#7fc8cf' -strokewidth 3 -draw 'roundrectangle 6,6 121,121 22,22' \
  -stroke none -fill '#c9d6dc' \
  -draw 'rectangle 46,28 51,38' -draw 'rectangle 61,28 66,38' -draw 'rectangle 76,28 81,38' \
  -draw 'rectangle 46,89 51,99' -draw 'rectangle 61,89 66,99' -draw 'rectangle 76,89 81,99' \
  -draw 'rectangle 28,46 38,51' -draw 'rectangle 28,61 38,66' -draw 'rectangle 28,76 38,81' \
  -draw 'rectangle 89,46 99,51' -draw 'rectangle 89,61 99,66' -draw 'rectangle 89,76 99,81' \
  -fill '#1c2a33' -stroke '#3d5563' -strokewidth 2 -draw 'roundrectangle 37,37 90,90 6,6' \
  -fill none -stroke '#f2b134' -strokewidth 8 -draw 'polyline 49,64 60,76 80,51' \
  "$work/art.png"

convert "$work/art.png" -strip -define png:exclude-chunks=date,time PNG32:app.png

# Each size is scaled from the same artwork on its own, so every icon image stays sharp.
for size in 16 32 48; do
  convert "$work/art.png" -filter Lanczos -resize "${size}x${size}" -strip PNG32:"$work/icon-$size.png"
done
convert "$work/icon-16.png" "$work/icon-32.png" "$work/icon-48.png" -define icon:format=bmp app.ico
