#!/bin/sh
# Renders tachyra.svg into tachyra.ico: 48, 32 and 16 pixels, each at 4, 8 and 32 bits
# per pixel. Needs ImageMagick; the generated .ico is committed so builds do not.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 48 32 16; do
  convert -background none -density 384 tachyra.svg -resize "${size}x${size}" \
    "PNG32:$tmp/full-$size.png"
  # 4 bits: 16 colours, transparency as a colour key; 8 bits: 256 colours.
  convert "$tmp/full-$size.png" -background '#ffffff' -alpha remove -alpha off \
    -dither None -colors 16 -type Palette "BMP3:$tmp/4-$size.bmp"
  convert "$tmp/full-$size.png" -background '#ffffff' -alpha remove -alpha off \
    -dither None -colors 256 -type Palette "BMP3:$tmp/8-$size.bmp"
done
convert "$tmp/4-48.bmp" "$tmp/4-32.bmp" "$tmp/4-16.bmp" \
  "$tmp/8-48.bmp" "$tmp/8-32.bmp" "$tmp/8-16.bmp" \
  "$tmp/full-48.png" "$tmp/full-32.png" "$tmp/full-16.png" tachyra.ico
identify tachyra.ico
