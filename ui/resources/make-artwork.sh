#!/usr/bin/env bash
# Draws the program's artwork with ImageMagick: icon 128 (updater.ico, 16/32/48 px) and the
# line-state bitmaps 149-152 (32 x 32, 24-bit BMP on the dialog face grey 192,192,192, which
# Windows maps to the system's face colour when it loads them with 3D-colour mapping).
# The files are committed; run this only to change the artwork.
set -euo pipefail
cd "$(dirname "$0")"

state() {  # name, fill colour, then the symbol's drawing primitives
  local name=$1 fill=$2
  shift 2
  local draws=()
  for primitive in "$@"; do
    draws+=(-draw "$primitive")
  done
  convert -size 32x32 xc:'rgb(192,192,192)' \
    -fill "$fill" -stroke 'rgb(64,64,64)' -strokewidth 1 -draw 'circle 16,16 16,3' \
    -stroke white -strokewidth 3 -fill none "${draws[@]}" \
    -type TrueColor "BMP3:$name.bmp"
}
state ready 'rgb(128,128,128)' 'line 10,16 22,16'
state running 'rgb(30,110,210)' 'polyline 12,10 20,16 12,22'
state pass 'rgb(40,160,60)' 'polyline 9,16 14,21 23,11'
state fail 'rgb(210,40,30)' 'line 11,11 21,21' 'line 21,11 11,21'

convert -size 48x48 xc:none \
  -fill 'rgb(30,110,210)' -stroke 'rgb(20,60,130)' -strokewidth 2 \
  -draw 'roundrectangle 3,3 44,44 8,8' \
  -fill white -stroke none -draw 'polygon 24,9 36,23 28,23 28,38 20,38 20,23 12,23' \
  -define icon:auto-resize=48,32,16 updater.ico
convert 'updater.ico[0]' updater.png
