#!/bin/sh
# Renders the program's images from their drawings in src/ (rsvg-convert from librsvg2-bin,
# convert from imagemagick). Run it after changing a drawing and commit what it writes; the
# build only copies the results.
set -eu
cd "$(dirname "$0")"

# The small pictures of menus, buttons and the notification panel.
for name in config close log vpn notification; do
    rsvg-convert --width 16 --height 16 --output "$name.png" "src/$name.svg"
done

# The logo: 16 and 24 pixels from the simpler drawing, the larger sizes from the full one.
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for size in 16 24; do
    rsvg-convert --width "$size" --height "$size" --output "$tmp/logo-$size.png" src/vexlan-16.svg
done
for size in 32 48 64; do
    rsvg-convert --width "$size" --height "$size" --output "$tmp/logo-$size.png" src/vexlan.svg
done
convert "$tmp/logo-16.png" "$tmp/logo-24.png" "$tmp/logo-32.png" "$tmp/logo-48.png" \
    "$tmp/logo-64.png" vexlan.ico
