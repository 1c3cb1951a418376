#!/usr/bin/env bash
# Scores morvel-text's match modes and the peer converters jp2a and chafa on
# the same pictures at the same grid with bench/quality.cpp (morvel-quality):
# SSIM and PSNR of the text rendered in the converter's font against the
# picture, both seen as from a few feet away, with the blur done on the gray
# values as stored and in linear light. Prints one table of SSIM and one of
# PSNR (each cell: stored gray / linear light), the mean in the last row.
#
#   tools/run-quality.sh [--colour] [--columns N] [--keep DIR]
#
# --colour   score coloured text instead (see below)
# --columns  text width in characters (default 100); every tool gets the same
#            number of lines as morvel-text's tone mode
# --keep     leave the pictures and texts in DIR to look at
#
# With --colour: colour photographs (the CC-BY and CC-BY-SA wallpapers of
# Debian's lomiri-wallpapers-16.04, shrunk to 800 pixels wide) in truecolor,
# morvel-text with and without --fill on a light and on a dark background,
# chafa --symbols ascii with and without --fg-only, and jp2a --colors
# --color-depth=24 with and without --fill, the peers on the dark
# background they assume; last, morvel-text --fill --match tone (--fill's
# default mode in truecolor is correlation). morvel-quality --colour renders
# each text with its colours on its background and prints a table of colour
# SSIM (CIE Lab, L* / a* / b* weighted 0.8 / 0.1 / 0.1) and one of the mean
# CIE76 difference.
#
# The pictures: the bundled samples, and a few drawn here with ImageMagick
# (a face, a landscape under clouds, handwriting, and ImageMagick's own rose
# photograph and wizard drawing), all small.
# MORVEL_BUILD_DIR names the build (default build/); the benchmarks must be on
# there (tools/setup.sh --bench) for morvel-quality to exist.
set -euo pipefail
cd "$(dirname "$0")/.."

columns=100
keep=""
colour=""
while [ $# -gt 0 ]; do
  case "$1" in
    --colour) colour=yes ;;
    --columns) columns="$2"; shift ;;
    --keep) keep="$2"; shift ;;
    *) echo "usage: tools/run-quality.sh [--colour] [--columns N] [--keep DIR]" >&2; exit 2 ;;
  esac
  shift
done

build=${MORVEL_BUILD_DIR:-build}
if [ ! -x "$build/bin/morvel-quality" ]; then
  cmake -S . -B "$build" -DMORVEL_BUILD_BENCH=ON >/dev/null
  cmake --build "$build" -j "$(nproc)" --target morvel-text morvel-quality >/dev/null
fi
text="$build/bin/morvel-text"
quality="$build/bin/morvel-quality"
for tool in jp2a chafa convert; do
  command -v "$tool" >/dev/null || { echo "run-quality: $tool is not installed" >&2; exit 1; }
done

if [ -n "$keep" ]; then
  work="$keep"
  mkdir -p "$work"
else
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
fi

# --- colour -------------------------------------------------------------------
colourTable() {
  local photos=/usr/share/backgrounds
  local names=(Bridge_by_Sander_Klootwijk Dragonfly_by_Bolly Picture_0B_by_freespace Picture_1A_by_freespace
    Wine_by_Jakkub_Mede aitzgorri_by_Aitzol_Berasategi friends_by_Aitzol_Berasategi life_by_Aitzol_Berasategi
    picosdeeuropa_by_Aitzol_Berasategi seeding_by_Clements_Engelhardt sunset_by_Aitzol_Berasategi)
  [ -f "$photos/${names[0]}.jpg" ] || {
    echo "run-quality: the photographs come from Debian's lomiri-wallpapers-16.04 (apt install it)" >&2
    exit 1
  }
  mkdir -p "$work/pictures" "$work/text"
  # The face morvel-text draws (its HTML page names it), for chafa's glyphs.
  local face fontFile
  face=$("$text" --format html --columns 10 res/samples/sphere.jpg | sed -n 's/.*font-family: "\([^"]*\)".*/\1/p')
  fontFile=$(fc-match -f '%{file}' "$face")
  local recipes=("morvel light" "morvel dark" "morvel --fill light" "morvel --fill dark"
    "chafa" "chafa --fg-only" "jp2a" "jp2a --fill" "morvel --fill --match tone dark")
  local header="| photo |" rule="|---|" r
  for r in "${recipes[@]}"; do header+=" $r |"; rule+="---|"; done
  local ssimRows=() deltaRows=() n=0
  declare -A total
  for name in "${names[@]}"; do
    local picture="$work/pictures/$name.jpg" out="$work/text/$name"
    convert "$photos/$name.jpg" -resize '800x800>' -quality 92 "$picture"
    mkdir -p "$out"
    # The grid: the columns asked, and the lines morvel-text makes of them.
    # Every tool fills it exactly (morvel-text with --stretch), so that the
    # picture scaled onto the rendered block lies under each text alike.
    local lines
    lines=$("$text" --no-footer --columns "$columns" "$picture" | wc -l)
    local m=("$text" --no-footer --crlf --columns "$columns" --rows "$lines" --stretch --color truecolor)
    "${m[@]}" --background light "$picture" >"$out/0.txt"
    "${m[@]}" --background dark "$picture" >"$out/1.txt"
    "${m[@]}" --fill --background light "$picture" >"$out/2.txt"
    "${m[@]}" --fill --background dark "$picture" >"$out/3.txt"
    local c=(chafa --format symbols --symbols ascii --colors full --glyph-file "$fontFile" --size "${columns}x$lines"
      --stretch)
    "${c[@]}" "$picture" >"$out/4.txt"
    "${c[@]}" --fg-only "$picture" >"$out/5.txt"
    jp2a --colors --color-depth=24 --size="${columns}x$lines" "$picture" >"$out/6.txt"
    jp2a --colors --color-depth=24 --fill --size="${columns}x$lines" "$picture" >"$out/7.txt"
    "${m[@]}" --fill --match tone --background dark "$picture" >"$out/8.txt"
    local ssim="| ${name%%_by_*} |" delta="| ${name%%_by_*} |" k
    for k in "${!recipes[@]}"; do
      local background=dark
      [[ "${recipes[$k]}" == *light ]] && background=light
      read -r s _ _ _ d <<<"$("$quality" --colour --background "$background" --font "$face" "$picture" "$out/$k.txt")"
      ssim+=" $s |"
      delta+=" $d |"
      total[$k,0]=$(add "${total[$k,0]:-0}" "$s")
      total[$k,1]=$(add "${total[$k,1]:-0}" "$d")
    done
    ssimRows+=("$ssim")
    deltaRows+=("$delta")
    n=$((n + 1))
  done
  local ssimMean="| **mean** |" deltaMean="| **mean** |"
  for k in "${!recipes[@]}"; do
    ssimMean+=" $(awk -v s="${total[$k,0]}" -v n="$n" 'BEGIN { printf "%.4f", s / n }') |"
    deltaMean+=" $(awk -v s="${total[$k,1]}" -v n="$n" 'BEGIN { printf "%.2f", s / n }') |"
  done
  echo "Colour SSIM (CIE Lab), $columns columns, face $face, truecolor"
  echo
  echo "$header"; echo "$rule"
  printf '%s\n' "${ssimRows[@]}"; echo "$ssimMean"
  echo
  echo "Mean CIE76 colour difference (lower is better)"
  echo
  echo "$header"; echo "$rule"
  printf '%s\n' "${deltaRows[@]}"; echo "$deltaMean"
}

add() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.6f", a + b }'; }
if [ -n "$colour" ]; then
  colourTable
  exit 0
fi

# --- the pictures -----------------------------------------------------------
pics="$work/pictures"
mkdir -p "$pics"
cp res/samples/sphere.jpg res/samples/hills.gif "$pics/"
convert -size 360x440 gradient:gray72-gray40 \
  -fill gray12 -draw 'ellipse 180,170 120,135 0,360' -draw 'rectangle 62,170 298,330' \
  -fill gray25 -draw 'ellipse 180,440 150,90 0,360' \
  -fill gray70 -draw 'rectangle 150,310 210,360' \
  -fill gray80 -draw 'ellipse 180,205 95,125 0,360' \
  \( -size 360x440 xc:black -fill white -draw 'ellipse 150,180 70,90 0,360' -blur 0x35 -evaluate multiply 0.18 \) \
  -compose plus -composite \
  -fill gray96 -draw 'ellipse 142,185 20,10 0,360' -draw 'ellipse 218,185 20,10 0,360' \
  -fill gray15 -draw 'circle 142,185 142,177' -draw 'circle 218,185 218,177' \
  -stroke gray20 -strokewidth 6 -fill none -draw 'arc 118,150 168,175 200,340' -draw 'arc 192,150 242,175 200,340' \
  -stroke gray55 -strokewidth 4 -draw 'line 180,195 172,245' -draw 'line 172,245 188,250' \
  -stroke gray30 -strokewidth 6 -draw 'arc 145,255 215,295 20,160' \
  -stroke none -blur 0x1.2 -seed 3 -attenuate 0.3 +noise Gaussian -colorspace gray -depth 8 "$pics/face.png"
convert -size 480x320 gradient:gray55-gray92 \
  \( -size 480x320 -seed 11 plasma:gray50-gray100 -blur 0x6 -colorspace gray \) -compose multiply -composite \
  \( -size 480x320 xc:black -fill white -draw 'circle 360,90 360,70' -blur 0x18 \) -compose screen -composite \
  -fill gray97 -draw 'circle 360,90 360,72' \
  -fill gray35 -draw 'path "M 0,210 L 60,150 L 110,185 L 190,110 L 260,175 L 320,140 L 400,200 L 480,160 L 480,320 L 0,320 Z"' \
  -fill gray12 -draw 'path "M 0,260 C 80,230 160,250 240,270 C 320,290 400,240 480,250 L 480,320 L 0,320 Z"' \
  -fill gray8 -draw 'rectangle 70,200 76,262' -draw 'polygon 73,150 50,215 96,215' -draw 'polygon 73,175 45,240 101,240' \
  -blur 0x0.8 -colorspace gray -depth 8 "$pics/landscape.png"
convert -size 520x220 gradient:gray95-gray86 -font DejaVu-Serif-Italic -pointsize 42 -fill gray18 \
  -annotate +24+80 'Dear Anna, thank you' -annotate +24+150 'for the lovely tea.' \
  -blur 0x0.6 -colorspace gray -depth 8 "$pics/handwriting.png"
convert rose: -resize 420x -colorspace gray -depth 8 "$pics/rose.png"
convert wizard: -resize 360x -background white -flatten -colorspace gray -depth 8 "$pics/wizard.png"

# The face morvel-text matches with (a stand-in when the default is not
# installed), for chafa's glyphs.
face=$("$text" --no-footer --columns 10 "$pics/rose.png" 2>&1 >/dev/null | sed -n 's/.*using "\(.*\)"$/\1/p')
face=${face:-Lucida Console}
fontFile=$(fc-match -f '%{file}' "$face")

modes=("tone" "difference" "correlation")
modeArgs=("--match tone" "--match difference --black-level max" "--match correlation")
header="| picture | tone | difference (max) | correlation | jp2a --invert | chafa |"
rule="|---|---|---|---|---|---|"
ssimRows=()
psnrRows=()
declare -A sum
count=0
for picture in "$pics"/*; do
  name=$(basename "$picture")
  out="$work/text/$name"
  mkdir -p "$out"
  scores=()
  for i in "${!modes[@]}"; do
    # --crlf keeps the spaces that end lines, so every line spans the whole
    # grid and the text keeps the picture's width.
    # shellcheck disable=SC2086  # the mode's arguments split on purpose
    "$text" --no-footer --crlf --columns "$columns" ${modeArgs[$i]} "$picture" >"$out/${modes[$i]}.txt" 2>/dev/null
    scores+=("$("$quality" --font "$face" "$picture" "$out/${modes[$i]}.txt")")
  done
  lines=$(wc -l <"$out/tone.txt")
  # jp2a reads no GIF, so it gets a PNG copy; it draws light on dark unless
  # inverted, and the texts here are dark on paper.
  convert "$picture" -depth 8 "$work/jp2a-input.png"
  jp2a --invert --width="$columns" --height="$lines" "$work/jp2a-input.png" >"$out/jp2a.txt"
  scores+=("$("$quality" --font "$face" "$picture" "$out/jp2a.txt")")
  chafa --format symbols --symbols ascii --colors none --invert --glyph-file "$fontFile" \
    --size "${columns}x$lines" --stretch "$picture" | sed 's/\x1b\[[0-9;?]*[a-zA-Z]//g' >"$out/chafa.txt"
  scores+=("$("$quality" --font "$face" "$picture" "$out/chafa.txt")")

  ssim="| $name |"
  psnr="| $name |"
  for k in "${!scores[@]}"; do
    read -r s p sl pl <<<"${scores[$k]}"
    ssim+=" $s / $sl |"
    psnr+=" $p / $pl |"
    sum[$k,0]=$(add "${sum[$k,0]:-0}" "$s")
    sum[$k,1]=$(add "${sum[$k,1]:-0}" "$sl")
    sum[$k,2]=$(add "${sum[$k,2]:-0}" "$p")
    sum[$k,3]=$(add "${sum[$k,3]:-0}" "$pl")
  done
  ssimRows+=("$ssim")
  psnrRows+=("$psnr")
  count=$((count + 1))
done

mean() { awk -v s="$1" -v n="$count" -v d="$2" 'BEGIN { printf "%.*f", d, s / n }'; }
ssimMean="| **mean** |"
psnrMean="| **mean** |"
for k in 0 1 2 3 4; do
  ssimMean+=" $(mean "${sum[$k,0]}" 3) / $(mean "${sum[$k,1]}" 3) |"
  psnrMean+=" $(mean "${sum[$k,2]}" 2) / $(mean "${sum[$k,3]}" 2) |"
done

echo "SSIM (stored gray / linear light), $columns columns, face $face"
echo
echo "$header"; echo "$rule"
printf '%s\n' "${ssimRows[@]}"; echo "$ssimMean"
echo
echo "PSNR in dB (stored gray / linear light)"
echo
echo "$header"; echo "$rule"
printf '%s\n' "${psnrRows[@]}"; echo "$psnrMean"
