#!/usr/bin/env bash
# Builds the benchmark programs and prints their figures as one table.
#   tools/run-benchmarks.sh                 -> builds build/ through tools/setup.sh --bench
#   MORVEL_BUILD_DIR=dir tools/run-benchmarks.sh
#                                           -> configures dir with the benchmarks on and
#                                              builds only the benchmark targets there
#   --end-to-end   also times morvel-text against djpeg, jp2a and chafa with hyperfine
#                  on a 4000 x 3000 photo-like JPEG, and its peak memory
#   --end-to-end-only  the end-to-end timings alone
#   --terminal     times morvel-text at terminal sizes (--columns) against djpeg at the
#                  same DCT scale, jp2a and chafa, with peak memory: 4000 x 3000 detailed and
#                  smooth JPEGs, a smooth 12000 x 9000 JPEG, a smooth 30000 x 30000 PNG and
#                  100 photos in one call. The pictures are made in a private folder under
#                  /tmp and removed at the end (about 60 MB on disk; the PNG takes a minute
#                  to write, and chafa needs some 4.5 GB of memory to read it)
#   --terminal-only    these alone
#   --repetitions N  runs of each benchmark (the table shows the median); default 3
#   --runs N       hyperfine runs of each end-to-end command; default 40
set -euo pipefail
cd "$(dirname "$0")/.."

endToEnd=0
terminal=0
benchmarks=1
repetitions=3
runs=40
while [ $# -gt 0 ]; do
  case "$1" in
    --end-to-end) endToEnd=1 ;;
    --end-to-end-only) endToEnd=1; benchmarks=0 ;;
    --terminal) terminal=1 ;;
    --terminal-only) terminal=1; benchmarks=0 ;;
    --repetitions) repetitions="$2"; shift ;;
    --runs) runs="$2"; shift ;;
    *) echo "usage: tools/run-benchmarks.sh [--end-to-end | --end-to-end-only] [--terminal | --terminal-only]" \
         "[--repetitions N] [--runs N]" >&2; exit 2 ;;
  esac
  shift
done

if [ -n "${MORVEL_BUILD_DIR:-}" ]; then
  dir="$MORVEL_BUILD_DIR"
  cmake -S . -B "$dir" -DMORVEL_BUILD_BENCH=ON >/dev/null
  targets=(bench_engine bench_loaders bench_write_picture)
  [ "$endToEnd" = 1 ] || [ "$terminal" = 1 ] && targets+=(morvel-text)
  cmake --build "$dir" -j "$(nproc)" --target "${targets[@]}" >/dev/null
else
  dir=build
  bash tools/setup.sh --bench >/dev/null
fi

out=$(mktemp -d)
big=""
trap 'rm -rf "$out" ${big:+"$big"}' EXIT
if [ "$benchmarks" = 1 ]; then
for program in bench_engine bench_loaders; do
  "$dir/bin/$program" --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
    --benchmark_format=csv 2>/dev/null >"$out/$program.csv"
done

echo "Morvel benchmarks ($(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ *//'))," \
  "median of $repetitions runs"
echo
# CSV columns: name,iterations,real_time,cpu_time,time_unit,bytes_per_second,items_per_second,label,...
cat "$out"/bench_engine.csv "$out"/bench_loaders.csv | awk -F, '
  function show(t, unit) {
    if (unit == "ns") t /= 1e6; else if (unit == "us") t /= 1e3; else if (unit == "s") t *= 1e3;
    return t
  }
  $1 ~ /_median"?$/ {
    name = $1; gsub(/"/, "", name); sub(/_median$/, "", name); sub(/^BM_/, "", name)
    ms = show($3, $5); label = $8; gsub(/"/, "", label)
    time[name] = ms; order[++n] = name; labels[name] = label
  }
  END {
    printf "| %-48s | %12s | %-12s |\n", "benchmark", "time (ms)", "note"
    printf "|%s|%s|%s|\n", "--------------------------------------------------", "--------------", "--------------"
    for (i = 1; i <= n; ++i) {
      name = order[i]; t = time[name]
      printf "| %-48s | %12s | %-12s |\n", name, (t < 0.01 ? sprintf("%.6f", t) : sprintf("%.3f", t)), labels[name]
    }
    print ""
    # Speed-ups the targets are about.
    best["Correlation"] = 0; best["Difference"] = 0
    for (i = 1; i <= n; ++i) {
      name = order[i]
      if (match(name, /^Chooser(Correlation|Difference)Fast/)) {
        mode = substr(name, 8); sub(/Fast.*/, "", mode)
        if (best[mode] == 0 || time[name] < best[mode]) best[mode] = time[name]
      }
    }
    for (mode in best)
      if (best[mode] > 0 && time["Chooser" mode "Plain"] > 0)
        printf "chooser %-12s fast vs plain: %.1fx\n", mode, time["Chooser" mode "Plain"] / best[mode]
    one = time["GenerateFast/w:4000/h:3000/jobs:1/mode:0/real_time"]
    two = time["GenerateFast/w:4000/h:3000/jobs:2/mode:0/real_time"]
    plain = time["GeneratePlain/w:4000/h:3000"]
    if (one > 0 && two > 0) printf "generation 4000x3000 (correlation), 2 threads vs 1: %.2fx\n", one / two
    oneD = time["GenerateFast/w:4000/h:3000/jobs:1/mode:1/real_time"]
    twoD = time["GenerateFast/w:4000/h:3000/jobs:2/mode:1/real_time"]
    if (oneD > 0 && twoD > 0) printf "generation 4000x3000 (difference), 2 threads vs 1: %.2fx\n", oneD / twoD
    if (one > 0 && plain > 0) printf "generation 4000x3000, fast (1 thread) vs plain: %.1fx\n", plain / one
    if (time["GiflibSlurp"] > 0) printf "GIF decoder vs giflib DGifSlurp: %.2fx\n", time["GiflibSlurp"] / time["GifDecoder"]
    if (time["LibjpegGray"] > 0) printf "JPEG reader vs bare libjpeg: %.2fx\n", time["LibjpegGray"] / time["JpegReader"]
  }'
fi

if [ "$endToEnd" = 1 ]; then
  converter="$dir/bin/morvel-text"
  picture="$out/photo.jpg"
  "$dir/bin/bench_write_picture" "$picture" 4000 3000
  # The converter's text grid, given to jp2a and chafa.
  "$converter" --no-footer -o "$out/text.txt" "$picture" 2>/dev/null
  columns=$(awk 'NR == 1 { sub(/\r$/, ""); print length($0) }' "$out/text.txt")
  rows=$(awk 'END { print NR }' "$out/text.txt")
  echo
  echo "End to end on a 4000 x 3000 photo-like JPEG, text grid ${columns} x ${rows}" \
    "(hyperfine -N --warmup 3 --runs $runs; load average before: $(cut -d' ' -f1-3 /proc/loadavg)):"
  echo
  hyperfine -N --warmup 3 --runs "$runs" --export-json "$out/e2e.json" \
    "djpeg -grayscale $picture" \
    "$converter $picture" \
    "$converter --jobs 1 $picture" \
    "$converter --match difference $picture" \
    "$converter --match correlation $picture" \
    "jp2a --size=${columns}x${rows} $picture" \
    "chafa --format symbols --colors none --symbols ascii --stretch --size ${columns}x${rows} $picture" \
    >/dev/null 2>&1
  python3 - "$out/e2e.json" "$out/" "$dir/bin/" <<'PY'
import json, statistics, sys
results = json.load(open(sys.argv[1]))["results"]
print("| command | min | median | mean | vs djpeg (median) |")
print("|---|---:|---:|---:|---:|")
base = statistics.median(results[0]["times"])
for r in results:
    times = r["times"]
    name = r["command"].replace(sys.argv[2], "").replace(sys.argv[3], "")
    median = statistics.median(times)
    print(f"| `{name}` | {min(times) * 1e3:.1f} ms | {median * 1e3:.1f} ms | {statistics.mean(times) * 1e3:.1f} ms"
          f" | {median / base:.2f}x |")
PY
  peak=$( { /usr/bin/time -v "$converter" "$picture" >/dev/null; } 2>&1 | awk -F: '/Maximum resident/ {gsub(/ /, "", $2); print $2}')
  echo
  echo "morvel-text peak memory: ${peak} KiB (gray picture: $((4000 * 3000 / 1024)) KiB)"
fi

if [ "$terminal" = 1 ]; then
  converter="$dir/bin/morvel-text"
  writer="$dir/bin/bench_write_picture"
  big=$(mktemp -d /tmp/morvel-bench-XXXXXX)
  "$writer" "$big/detailed.jpg" 4000 3000
  "$writer" "$big/smooth.jpg" 4000 3000 smooth
  "$writer" "$big/smooth-12000.jpg" 12000 9000 smooth
  "$writer" "$big/smooth-30000.png" 30000 30000 smooth
  mkdir "$big/photos"
  for i in $(seq -w 1 100); do ln "$big/detailed.jpg" "$big/photos/photo$i.jpg"; done
  # The glyph width of the converter's font: at the natural size a picture W
  # pixels wide gives ceil(W / m) - 1 characters a line.
  natural=$("$converter" --no-footer "$big/detailed.jpg" 2>/dev/null | awk 'NR == 1 { sub(/\r$/, ""); print length($0) }')
  glyph=$(python3 -c "import math; print(next(m for m in range(1, 200) if math.ceil(4000 / m) - 1 == $natural))")
  # The DCT scale the converter picks for a W x H picture at C columns.
  scaleFor() {
    python3 -c "
import math
w, h, c, m = $1, $2, $3, $glyph
tw = c * m; th = max(1, round(h * tw / w))
print(next((k for k in range(1, 8) if math.ceil(w * k / 8) >= tw and math.ceil(h * k / 8) >= th), 8))"
  }
  runsFor() { case "$1" in *30000*|*photos*) echo 3 ;; *12000*) echo 10 ;; *) echo "$runs" ;; esac; }
  peakOf() {
    /usr/bin/time -v -o "$out/time.txt" "$@" >/dev/null 2>&1 || true
    awk -F: '/Maximum resident/ { gsub(/ /, "", $2); printf "%.1f MiB", $2 / 1024 }' "$out/time.txt"
  }

  echo
  echo "At terminal sizes (glyph width $glyph pixels; hyperfine -N; load average before:" \
    "$(cut -d' ' -f1-3 /proc/loadavg)):"
  echo
  echo "| picture | command | median | vs jp2a | peak memory |"
  echo "|---|---|---:|---:|---:|"
  for item in "detailed.jpg 4000 3000 80" "smooth.jpg 4000 3000 80" "smooth-12000.jpg 12000 9000 100" \
              "smooth-30000.png 30000 30000 100" "photos 4000 3000 100"; do
    set -- $item
    name=$1; columns=$4
    if [ "$name" = photos ]; then
      pictures=("$big"/photos/*.jpg)
    else
      pictures=("$big/$name")
    fi
    "$converter" --no-footer --columns "$columns" -o "$out/grid.txt" "${pictures[0]}" 2>/dev/null
    rows=$(awk 'END { print NR }' "$out/grid.txt")
    commands=()
    case "$name" in
      *.jpg) commands+=("djpeg -grayscale -scale $(scaleFor "$2" "$3" "$columns")/8 ${pictures[*]}") ;;
    esac
    commands+=("$converter --columns $columns ${pictures[*]}"
               "jp2a --width=$columns ${pictures[*]}"
               "chafa --format symbols --colors none --symbols ascii --stretch --size ${columns}x${rows} ${pictures[*]}")
    hyperfine -N --warmup 1 --runs "$(runsFor "$name")" --export-json "$out/terminal.json" "${commands[@]}" \
      >/dev/null 2>&1
    python3 - "$out/terminal.json" > "$out/medians.txt" <<'PY'
import json, statistics, sys
for r in json.load(open(sys.argv[1]))["results"]:
    print(statistics.median(r["times"]))
PY
    mapfile -t medians < "$out/medians.txt"
    jp2a=${medians[$((${#medians[@]} - 2))]}
    label="$name, --columns $columns"
    [ "$name" = photos ] && label="100 photos ($2 x $3), --columns $columns"
    for i in "${!commands[@]}"; do
      read -ra argv <<<"${commands[$i]}"
      shown="${commands[$i]}"
      [ "$name" = photos ] && shown="${shown%% $big/*} photo001.jpg ... photo100.jpg"
      shown="${shown//$big\//}"
      shown="${shown//$dir\/bin\//}"
      printf '| %s | `%s` | %s | %s | %s |\n' "$label" "$shown" \
        "$(python3 -c "print(f'{${medians[$i]} * 1e3:.0f} ms')")" \
        "$(python3 -c "print(f'{${medians[$i]} / $jp2a:.2f}x')")" "$(peakOf "${argv[@]}")"
    done
  done
fi
