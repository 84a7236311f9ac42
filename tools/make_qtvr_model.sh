#!/usr/bin/env bash
# Draws resources/images/QTVR_Model.png, the picture of the object-movie
# options dialog: an object inside the sphere of views, the camera's rows
# (latitudes) and columns (meridians) around it.
set -euo pipefail
out=${1:-"$(dirname "$0")/../resources/images/QTVR_Model.png"}
convert -size 160x160 xc:none \
  -fill 'radial-gradient:#f4f8ff-#7f9cc8' -stroke none -draw "circle 80,80 80,6" \
  -fill none -stroke '#3a5a8c' -strokewidth 1 \
  -draw "ellipse 80,80 74,14 0,360" -draw "ellipse 80,50 62,10 0,360" -draw "ellipse 80,110 62,10 0,360" \
  -draw "ellipse 80,80 14,74 0,360" -draw "ellipse 80,80 44,74 0,360" -draw "line 80,6 80,154" \
  -fill '#c03030' -stroke '#601818' -draw "circle 80,80 80,66" \
  -fill '#f0c040' -stroke '#806020' -draw "polygon 140,60 154,54 154,66" \
  -depth 8 "$out"
