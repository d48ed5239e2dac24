#!/bin/sh
# Renders the icons' pictures for the program (16 and 24 pixels) and the
# desktop (the program's own icon in several sizes) from their SVG sources.
# Needs rsvg-convert (librsvg2-bin). The PNGs are kept in the repository,
# so building needs neither this script nor Qt's SVG plugin.
cd "$(dirname "$0")"
mkdir -p png
for f in *.svg; do
  n=${f%.svg}
  for s in 16 24; do rsvg-convert -w $s -h $s "$f" -o "png/$n-$s.png"; done
done
for s in 32 48 64 128; do rsvg-convert -w $s -h $s zumilo.svg -o png/zumilo-$s.png; done
