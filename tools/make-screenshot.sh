#!/usr/bin/env bash
# Draws the window's screenshot for the software-centre entry: the real
# window on a 1920 x 1200 virtual display (Xvfb), wide enough for the whole
# text art of the bundled sphere sample in the start-up settings. Writes
# res/screenshots/window.png (builds the screenshot driver in build/ first).
set -euo pipefail
cd "$(dirname "$0")/.."

out=res/screenshots
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --build build -j "$(nproc)" --target morvel-shot >/dev/null
# The driver saves the image once the text is generated and then keeps the
# window open, so the time limit is what ends it.
xvfb-run -a -s "-screen 0 1920x1200x24" \
  timeout 20 build/bin/morvel-shot res/samples/sphere.jpg "$tmp/window.png" || true
[ -s "$tmp/window.png" ] || { echo "no screenshot was made" >&2; exit 1; }
# The window holds about 300 colours, nearly all grays: 256 look the same
# at a third of the size.
convert "$tmp/window.png" -strip +dither -colors 256 -define png:compression-level=9 \
  -define png:exclude-chunks=date,time "$out/window.png"
identify "$out/window.png"
ls -l "$out/window.png"
