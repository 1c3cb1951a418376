#!/usr/bin/env bash
# Draws the bundled sample pictures with ImageMagick into res/samples/:
#   sphere.jpg  a shaded sphere with a soft shadow on a gradient background
#   hills.gif   a moon with a soft glow over two ranges of hills at night
# Both are 800 pixels wide, which with the default font (cells of about 7 x 16
# pixels) gives text about 114 columns wide.
#
# The converter's default match mode (correlation) answers to changes inside
# a character cell rather than to flat brightness: edges, gradients and dark
# shaded areas turn into characters, flat light areas into spaces. The
# drawings are made for that: clear outlines, shading that runs dark, and no
# banding (the GIF keeps 256 grays so its gradients have no contour lines).
set -euo pipefail
cd "$(dirname "$0")/.."

out=res/samples
mkdir -p "$out"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

W=800

# --- sphere.jpg -------------------------------------------------------------
H=560
# Background: darker at the top, light at the bottom.
convert -size ${W}x${H} gradient:gray62-gray96 "$work/bg.png"
# Soft shadow below the sphere: a dark ellipse, blurred, multiplied in.
convert -size ${W}x${H} xc:white -fill gray8 -draw 'ellipse 440,478 220,36 0,360' -blur 0x16 "$work/shadow.png"
# Sphere shading: a radial gradient whose centre (the highlight) sits up and
# to the left, darkened towards the far side, plus a faint light reflected
# from the floor along the lower rim.
convert -size 600x600 radial-gradient:white-black -crop 400x400+180+190 +repage -gamma 0.55 \
  \( -size 400x400 radial-gradient:black-white -evaluate pow 4 -evaluate multiply 0.3 \
     \( -size 400x400 gradient:black-white \) -compose multiply -composite \) \
  -compose plus -composite "$work/ball.png"
convert -size 400x400 xc:black -fill white -draw 'circle 200,200 200,6' "$work/ballmask.png"
convert "$work/bg.png" "$work/shadow.png" -compose multiply -composite \
  \( "$work/ball.png" "$work/ballmask.png" -alpha off -compose copy_opacity -composite \) \
  -geometry +200+30 -compose over -composite \
  -colorspace gray -strip -quality 85 "$out/sphere.jpg"

# --- hills.gif --------------------------------------------------------------
H=520
# Night sky: dark at the top, lighter towards the horizon; the moon's glow.
convert -size ${W}x${H} gradient:gray10-gray80 "$work/sky.png"
convert -size ${W}x${H} xc:black -fill white -draw 'circle 590,130 590,60' -blur 0x30 \
  -evaluate multiply 0.5 "$work/glow.png"
convert -size ${W}x${H} xc:black -fill white -draw 'circle 590,130 590,66' "$work/moonmask.png"
# Far hills in a lighter gray, near hills darkening to almost black.
convert -size ${W}x${H} xc:black -fill white \
  -draw 'path "M 0,330 C 120,250 220,260 320,320 C 420,380 520,230 640,260 C 720,280 760,300 800,290 L 800,520 L 0,520 Z"' \
  "$work/farmask.png"
convert -size ${W}x${H} xc:black -fill white \
  -draw 'path "M 0,420 C 160,360 300,380 420,430 C 540,480 660,380 800,400 L 800,520 L 0,520 Z"' \
  "$work/nearmask.png"
convert -size ${W}x${H} gradient:gray55-gray25 "$work/far.png"
convert -size ${W}x${H} gradient:gray40-gray3 "$work/near.png"
convert "$work/sky.png" "$work/glow.png" -compose screen -composite \
  -size ${W}x${H} xc:gray97 "$work/moonmask.png" -compose over -composite \
  "$work/far.png" "$work/farmask.png" -composite \
  "$work/near.png" "$work/nearmask.png" -composite \
  -colorspace gray +dither -colors 256 -strip "$out/hills.gif"

ls -l "$out"
