#!/bin/sh
# Renders the program's icon (brackenvale.svg) into the PNG sizes of the hicolor theme beside it.
# The PNGs are committed, so neither the build nor the packages need an SVG renderer; run this
# (librsvg2-bin's rsvg-convert) after changing the SVG.
set -eu
cd "$(dirname "$0")"
for size in 16 32 48 64 128 256; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert --width "$size" --height "$size" --keep-aspect-ratio brackenvale.svg \
    --output "hicolor/${size}x${size}/apps/brackenvale.png"
done
