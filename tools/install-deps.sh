#!/usr/bin/env bash
# Installs the Debian packages Morvel builds and tests with, only those that
# are missing. Needs root (or sudo) the first time; a no-op afterwards.
#   tools/install-deps.sh --package   also the tools that build and check the
#                                     Debian package
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libfreetype-dev libfontconfig-dev fonts-dejavu-core fonts-noto-mono fonts-urw-base35
  libjpeg-dev libjpeg-turbo-progs libspng-dev libstb-dev zlib1g-dev
  libwebp-dev webp libheif-dev libheif-examples libtiff-dev libtiff-tools
  libgtest-dev libgmock-dev libbenchmark-dev libcli11-dev libncurses-dev
  qt6-base-dev qt6-qpa-plugins
  libgif-dev imagemagick gifsicle python3-pil
  xvfb xauth groff-base
)
if [ "${1:-}" = --package ]; then
  packages+=(dpkg-dev file lintian appstream desktop-file-utils)
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "morvel: installing ${missing[*]}" >&2
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  export DEBIAN_FRONTEND=noninteractive
  $sudo apt-get update -qq
  $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
