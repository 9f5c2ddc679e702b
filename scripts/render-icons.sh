#!/usr/bin/env bash
# Renders data/icons/org.quillo.Quillo.svg into the PNG sizes that are
# committed beside it (data/icons/hicolor/NxN/apps/org.quillo.Quillo.png).
# Run after changing the SVG; needs rsvg-convert (Debian: librsvg2-bin).
set -euo pipefail
cd "$(dirname "$0")/../data/icons"
for size in 16 22 24 32 48 64 128 256 512; do
  mkdir -p "hicolor/${size}x${size}/apps"
  rsvg-convert -w "$size" -h "$size" org.quillo.Quillo.svg -o "hicolor/${size}x${size}/apps/org.quillo.Quillo.png"
done
