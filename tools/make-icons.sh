#!/usr/bin/env bash
# Draws the application icons with ImageMagick: a lit sphere written in
# characters on a sheet of paper, which from a distance reads as the sphere
# itself. Writes res/icons/morvel-{16,32,48,64,128}.png.
set -euo pipefail
cd "$(dirname "$0")/.."

font=/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf
out=res/icons
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# 9 rows of 15 characters: the sphere shaded by a light from the upper left,
# each cell's darkness picked from a ramp of characters.
awk 'BEGIN {
  ramp = " .:-=+*#%@"; rows = 9; cols = 15
  lx = -0.5; ly = -0.6; lz = 0.62
  for (r = 0; r < rows; r++) {
    line = ""
    for (c = 0; c < cols; c++) {
      x = (c + 0.5 - cols / 2) / (cols / 2) * 1.05
      y = (r + 0.5 - rows / 2) / (rows / 2) * 1.05
      d = x * x + y * y
      if (d >= 1) { line = line " "; continue }
      z = sqrt(1 - d)
      b = x * lx + y * ly + z * lz
      if (b < 0) b = 0
      b = 0.05 + 0.9 * b
      k = int((1 - b) * 9 + 0.5); if (k < 1) k = 1; if (k > 9) k = 9
      line = line substr(ramp, k + 1, 1)
    }
    print line
  }
}' > "$tmp/sphere.txt"

# The big picture: paper with an olive edge, the characters in dark ink,
# one row at a time, each indented by its leading spaces (ImageMagick drops
# them), a character being 0.602 em wide.
args=()
y=38
while IFS= read -r line; do
  trimmed="${line#"${line%%[! ]*}"}"
  lead=$(( ${#line} - ${#trimmed} ))
  args+=(-annotate "+$((24 + lead * 1385 / 100))+$y" "${trimmed//%/%%}")
  y=$((y + 23))
done < "$tmp/sphere.txt"
convert -size 256x256 xc:none \
  -fill '#f6f4ea' -stroke '#808000' -strokewidth 8 -draw 'roundrectangle 6,6 249,249 28,28' \
  -stroke none -fill '#202000' -font "$font" -pointsize 23 "${args[@]}" \
  "$tmp/big.png"

for size in 16 32 48 64 128; do
  convert "$tmp/big.png" -filter Lanczos -resize ${size}x${size} \
    -define png:exclude-chunks=date,time -strip "$out/morvel-$size.png"
done
echo "icons written to $out"
