#!/bin/sh
# Renders the PNG sizes of the icon from tavrelcut.svg (needs rsvg-convert,
# Debian package librsvg2-bin). Run it after changing the SVG and commit the
# PNGs: the build installs them as they are.
set -eu
cd "$(dirname "$0")"
for s in 16 22 24 32 48 64 128 256; do
    rsvg-convert -w "$s" -h "$s" -o "tavrelcut-$s.png" tavrelcut.svg
done
