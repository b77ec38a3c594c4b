#!/usr/bin/env bash
# Draws the application icon's PNGs from the SVGs in resources/: vestrel-<N>.svg where a size has
# its own pixel-fitted drawing, vestrel.svg for the others. The PNGs are committed; run this after
# changing a drawing.
#   make-icons.sh [OUT_DIR]   writes OUT_DIR/vestrel-<N>.png (default: resources/)
set -euo pipefail

res=$(cd "$(dirname "$0")/../resources" && pwd)
out=${1:-$res}
sizes=(16 22 24 32 48 64 128 256)

command -v rsvg-convert >/dev/null || { echo "make-icons: rsvg-convert not found (apt-get install librsvg2-bin)" >&2; exit 2; }
mkdir -p "$out"
for n in "${sizes[@]}"; do
  svg=$res/vestrel-$n.svg
  [[ -f "$svg" ]] || svg=$res/vestrel.svg
  rsvg-convert --width "$n" --height "$n" --output "$out/vestrel-$n.png" "$svg"
done
