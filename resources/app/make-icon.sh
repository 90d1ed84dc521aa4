#!/bin/sh
# Draws the program's picture (tobrel.png, 128 x 128) with ImageMagick: a white handset with three
# rays of sound on a rounded teal tile. Run it again after changing the drawing.
set -e
cd "$(dirname "$0")"
convert -size 128x128 xc:none \
    -fill '#00a0a8' -stroke '#006066' -strokewidth 4 -draw 'roundrectangle 4,4 123,123 22,22' \
    -fill white -stroke '#00363a' -strokewidth 3 -draw "path 'M 34 30 C 26 34 22 44 26 58 C 32 80 50 98 70 104 C 84 108 94 104 98 96 L 86 82 C 82 80 78 82 74 86 C 62 82 48 68 44 56 C 48 52 50 48 48 44 Z'" \
    -stroke '#ffe14d' -strokewidth 8 -draw 'line 66,24 72,40' -draw 'line 84,40 104,28' -draw 'line 88,58 104,62' \
    -strip tobrel.png
