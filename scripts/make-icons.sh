#!/usr/bin/env bash
# Makes the program's icon in the sizes desktops look for (16 to 256 pixels) from the
# one drawn icon, app/icons/zivadiduz.png (32 x 32), into app/icons/hicolor/. Run it
# after changing that icon and commit what it writes. Needs ImageMagick (convert).
# Larger sizes are whole multiples of the drawing, so its pixels stay sharp; 48 is
# made from 96 and 24 and 16 from 32, smoothly.
set -euo pipefail
cd "$(dirname "$0")/../app/icons"
for size in 16 24 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  out="hicolor/${size}x${size}/apps/zivadiduz.png"
  case $size in
    32) cp zivadiduz.png "$out" ;;
    16|24) convert zivadiduz.png -filter Lanczos -resize "${size}x${size}" "$out" ;;
    48) convert zivadiduz.png -filter Point -resize 96x96 -filter Box -resize 48x48 "$out" ;;
    *) convert zivadiduz.png -filter Point -resize "${size}x${size}" "$out" ;;
  esac
  # No dates or other text chunks: the same drawing gives the same bytes.
  mogrify -strip -define png:exclude-chunks=date,time "$out"
done
