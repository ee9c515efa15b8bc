#!/bin/sh
# Renders tachyra.svg into tachyra.ico: 48, 32 and 16 pixels, each at 4, 8 and 32 bits
# per pixel. Needs ImageMagick and python3; the generated .ico is committed so builds
# need neither.
set -eu
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 48 32 16; do
  convert -background none -density 384 tachyra.svg -resize "${size}x${size}" \
    "PNG32:$tmp/full-$size.png"
  # The palette images are drawn on black, which their transparency mask then shows
  # through (black XOR the screen leaves the screen).
  convert "$tmp/full-$size.png" -background black -alpha remove -alpha off \
    -dither None -colors 16 -type Palette "BMP3:$tmp/4-$size.bmp"
  convert "$tmp/full-$size.png" -background black -alpha remove -alpha off \
    -dither None -colors 256 -type Palette "BMP3:$tmp/8-$size.bmp"
done
convert "$tmp/4-48.bmp" "$tmp/4-32.bmp" "$tmp/4-16.bmp" \
  "$tmp/8-48.bmp" "$tmp/8-32.bmp" "$tmp/8-16.bmp" \
  "$tmp/full-48.png" "$tmp/full-32.png" "$tmp/full-16.png" "$tmp/tachyra.ico"

# ImageMagick leaves the palette images fully opaque: copy the transparency of the
# 32-bit image of the same size into their AND masks.
python3 - "$tmp/tachyra.ico" tachyra.ico <<'PY'
import struct, sys
data = bytearray(open(sys.argv[1], 'rb').read())
count = struct.unpack_from('<H', data, 4)[0]
entries = []
for i in range(count):
    w, h, _, _, _, bpp, size, off = struct.unpack_from('<BBBBHHII', data, 6 + 16 * i)
    entries.append((w or 256, h or 256, bpp, off))
alpha = {}
for w, h, bpp, off in entries:
    if bpp == 32:
        rows = []
        for y in range(h):  # bottom-up rows of BGRA
            base = off + 40 + y * w * 4
            rows.append([data[base + 4 * x + 3] for x in range(w)])
        alpha[w] = rows
for w, h, bpp, off in entries:
    if bpp >= 32 or w not in alpha:
        continue
    colours = struct.unpack_from('<I', data, off + 32)[0] or (1 << bpp)
    xor_row = ((w * bpp + 31) // 32) * 4
    and_row = ((w + 31) // 32) * 4
    mask = off + 40 + colours * 4 + xor_row * h
    for y in range(h):
        for x in range(w):
            if alpha[w][y][x] < 128:
                data[mask + y * and_row + x // 8] |= 0x80 >> (x % 8)
open(sys.argv[2], 'wb').write(data)
PY
identify tachyra.ico
