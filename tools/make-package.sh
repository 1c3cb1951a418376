#!/usr/bin/env bash
# Builds the Debian package morvel_VERSION_ARCH.deb and prints its path (the
# only thing it writes to standard output).
#   tools/make-package.sh            -> configures and builds build-deb/ with
#                                       Debian's hardening flags, no tests
#   tools/make-package.sh BUILD_DIR  -> packs an existing build folder as it is
# The package holds what `cmake --install` installs (both programs, their man
# pages gzip-compressed, the desktop entry, icons, AppStream file, help text)
# and the Debian copyright and changelog; its Depends line is computed from
# the programs' libraries by dpkg-shlibdeps.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/install-deps.sh --package >&2

if [ $# -gt 1 ]; then
  echo "usage: tools/make-package.sh [BUILD_DIR]" >&2
  exit 2
fi
if [ $# -eq 1 ]; then
  dir=$1
else
  dir=build-deb
  # The flags a Debian package build uses, all hardening on (stack
  # protector, fortified libc calls, relocations read-only and bound at
  # start); CMake does not read CPPFLAGS, so they go in with the compiler
  # flags.
  flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
  args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr
        "-DCMAKE_C_FLAGS=$(flags CFLAGS) $(flags CPPFLAGS)"
        "-DCMAKE_CXX_FLAGS=$(flags CXXFLAGS) $(flags CPPFLAGS)"
        "-DCMAKE_EXE_LINKER_FLAGS=$(flags LDFLAGS)")
  [ "${MORVEL_WERROR:-}" = ON ] && args+=(-DMORVEL_WERROR=ON)
  cmake -S . -B "$dir" "${args[@]}" >/dev/null
  cmake --build "$dir" -j "$(nproc)" >&2
fi

rm -f "$dir"/morvel_*.deb
(cd "$dir" && cpack -G DEB >&2)
deb=$(ls "$dir"/morvel_*.deb)
echo "$deb"
