#!/usr/bin/env bash
# Sets Morvel up from nothing: installs what is missing, configures and builds.
#   tools/setup.sh              -> build/      (release with debug info)
#   tools/setup.sh --sanitize   -> build-asan/ (AddressSanitizer + UBSan)
set -euo pipefail
cd "$(dirname "$0")/.."

dir=build
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
for a in "$@"; do
  case "$a" in
    --sanitize) dir=build-asan; args=(-DCMAKE_BUILD_TYPE=Debug -DMORVEL_SANITIZE=ON) ;;
    --bench) args+=(-DMORVEL_BUILD_BENCH=ON) ;;
    *) echo "usage: tools/setup.sh [--sanitize] [--bench]" >&2; exit 2 ;;
  esac
done
[ "${MORVEL_WERROR:-}" = ON ] && args+=(-DMORVEL_WERROR=ON)

bash tools/install-deps.sh
cmake -S . -B "$dir" "${args[@]}" >/dev/null
cmake --build "$dir" -j "$(nproc)"
