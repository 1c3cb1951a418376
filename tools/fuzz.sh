#!/usr/bin/env bash
# Builds the libFuzzer programs (clang, AddressSanitizer + UBSan) in
# build-fuzz/ and runs each named target for SECONDS seconds at the lowest CPU
# priority.
#   tools/fuzz.sh SECONDS [gif|jpeg|png|pipeline|webp|heif|tiff|bmp]...   (all when none named)
# New corpus entries collect in build-fuzz/work/<target>/corpus; crashes,
# timeouts and out-of-memory inputs are copied into tests/fuzz/corpus/<target>/
# so that the replay tests run them in every CI run (fix them, then keep them).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -lt 1 ] || ! [[ "$1" =~ ^[0-9]+$ ]]; then
  echo "usage: tools/fuzz.sh SECONDS [gif|jpeg|png|pipeline|webp|heif|tiff|bmp]..." >&2
  exit 2
fi
seconds=$1
shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(gif jpeg png pipeline webp heif tiff bmp)
for t in "${targets[@]}"; do
  case "$t" in
    gif|jpeg|png|pipeline|webp|heif|tiff|bmp) ;;
    *) echo "tools/fuzz.sh: unknown target: $t" >&2; exit 2 ;;
  esac
done

build=build-fuzz
CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DMORVEL_FUZZ=ON -DMORVEL_SANITIZE=ON -DMORVEL_BUILD_GUI=OFF >/dev/null
nice -n 19 cmake --build "$build" -j "${FUZZ_BUILD_JOBS:-2}" \
  --target $(printf 'fuzz_%s ' "${targets[@]}")

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
for t in "${targets[@]}"; do
  work="$build/work/$t"
  mkdir -p "$work/corpus" "$work/artifacts"
  args=(-max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 -print_final_stats=1
        -artifact_prefix="$work/artifacts/")
  case "$t" in
    gif) args+=(-max_len=8192 -dict=tests/fuzz/gif.dict) ;;
    jpeg) args+=(-max_len=16384 -dict=tests/fuzz/jpeg.dict -close_fd_mask=2) ;;
    png) args+=(-max_len=8192) ;;
    pipeline) args+=(-max_len=8192 -close_fd_mask=2) ;;
    webp|heif|tiff|bmp) args+=(-max_len=16384) ;;
  esac
  echo "== fuzz_$t for ${seconds}s"
  status=0
  nice -n 19 "$build/bin/fuzz_$t" "${args[@]}" "$work/corpus" "tests/fuzz/corpus/$t" || status=$?
  found=0
  for f in "$work"/artifacts/crash-* "$work"/artifacts/timeout-* "$work"/artifacts/oom-*; do
    [ -e "$f" ] || continue
    cp -n "$f" "tests/fuzz/corpus/$t/"
    echo "kept finding: tests/fuzz/corpus/$t/$(basename "$f")"
    found=1
  done
  [ $status -ne 0 ] && [ $found -eq 0 ] && echo "fuzz_$t stopped with status $status" >&2
done
