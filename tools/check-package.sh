#!/usr/bin/env bash
# Checks the Debian package that tools/make-package.sh made, then installs it
# with apt (which pulls its dependencies), runs the installed programs,
# removes the package and checks that none of its files stay behind.
# Needs root for apt-get; fails when morvel is installed already.
#   tools/check-package.sh build-deb/morvel_VERSION_ARCH.deb
set -euo pipefail
cd "$(dirname "$0")/.."

if [ $# -ne 1 ] || [ ! -f "$1" ]; then
  echo "usage: tools/check-package.sh PACKAGE.deb" >&2
  exit 2
fi
deb=$(realpath "$1")
fail() { echo "package check failed: $*" >&2; exit 1; }
version=$(sed -n 's/^project(Morvel VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
[ -n "$version" ] || fail "no version in CMakeLists.txt"
tmp=$(mktemp -d)
installed=0
cleanup() {
  # Never leave the programs in /usr/bin for whatever runs next.
  if [ "$installed" = 1 ]; then apt-get remove -y -qq morvel >/dev/null 2>&1 || true; fi
  rm -rf "$tmp"
}
trap cleanup EXIT

echo "== dpkg-deb -I"
dpkg-deb -I "$deb"
field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = morvel ] || fail "package name $(field Package)"
[ "$(field Version)" = "$version" ] || fail "version $(field Version), project $version"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "architecture $(field Architecture)"
[ "$(field Section)" = graphics ] || fail "section $(field Section)"
[ -z "$(field Homepage)" ] || fail "a Homepage field"
depends=$(field Depends)
for p in libqt6widgets6 libqt6gui6 libqt6core6 qt6-qpa-plugins libjpeg62-turbo libspng0 libwebp7 libwebpdemux2 libheif1 libtiff6 \
         libfreetype6 libfontconfig1; do
  grep -Eq "(^|, )$p( |,|$)" <<<"$depends" || fail "Depends lacks $p"
done
# Nothing from the build: no headers, test or benchmark libraries.
if grep -Eq -- '-dev( |,|$)|gtest|gmock|benchmark|cli11' <<<"$depends"; then
  fail "Depends names build packages: $depends"
fi

echo "== dpkg-deb -c"
dpkg-deb -c "$deb" | tee "$tmp/listing"
awk '$1 !~ /^d/ { print $6 }' "$tmp/listing" | LC_ALL=C sort >"$tmp/files"
diff -u packaging/files.txt "$tmp/files" || fail "the package's files differ from packaging/files.txt"
awk '$2 != "root/root"' "$tmp/listing" | grep . && fail "files not owned by root"
# No empty directories: each one holds a listed file.
for d in $(awk '$1 ~ /^d/ { print $6 }' "$tmp/listing"); do
  grep -q "^$d" "$tmp/files" || fail "empty directory $d"
done

echo "== lintian"
status=0
lintian --fail-on error,warning --display-level '>=pedantic' "$deb" >"$tmp/lintian" 2>&1 || status=$?
grep -v 'root privileges' "$tmp/lintian" || echo "lintian: no tags"
[ "$status" = 0 ] || fail "lintian reports errors or warnings"

echo "== metadata"
dpkg-deb -x "$deb" "$tmp/root"
metainfo=$(echo "$tmp"/root/usr/share/metainfo/*.metainfo.xml)
appstreamcli validate --no-net --pedantic "$metainfo"
appstreamcli validate-tree --no-net "$tmp/root"
desktop-file-validate "$tmp"/root/usr/share/applications/*.desktop
# The newest release named by the AppStream file and the changelog is the
# package's version, and the screenshot is the repository's file at that
# release's tag, of the size the entry gives.
release=$(grep -m1 -o '<release version="[^"]*"' "$metainfo" | cut -d'"' -f2)
[ "$release" = "$version" ] || fail "AppStream release $release, project $version"
changelog=$(zcat "$tmp/root/usr/share/doc/morvel/changelog.gz" | sed -n '1s/^morvel (\([^)]*\)).*/\1/p')
[ "$changelog" = "$version" ] || fail "changelog version $changelog, project $version"
grep -o '<image[^>]*>[^<]*' "$metainfo" | while IFS= read -r image; do
  url=${image##*>}
  file=${url#*/v"$version"/}
  [ "$file" != "$url" ] && [ -f "$file" ] || fail "screenshot $url is not a repository file at v$version"
  size=$(sed -n 's/.*width="\([0-9]*\)" height="\([0-9]*\)".*/\1 x \2/p' <<<"$image")
  file "$file" | grep -q "PNG image data, $size," || fail "$file is not a $size PNG"
done

echo "== apt-get install"
if dpkg-query -W -f='${Status}' morvel 2>/dev/null | grep -q 'ok installed'; then
  fail "morvel is installed already; remove it first"
fi
installed=1
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$deb" >/dev/null
dpkg -L morvel >"$tmp/installed"
/usr/bin/morvel-text --version | tee "$tmp/version"
grep -qx "morvel-text $version" "$tmp/version" || fail "morvel-text --version"
# --version needs no display.
env -u DISPLAY -u WAYLAND_DISPLAY /usr/bin/morvel --version | tee "$tmp/version"
grep -q "$version" "$tmp/version" || fail "morvel --version"
/usr/bin/morvel-text --columns 60 --no-footer res/samples/sphere.jpg >"$tmp/sphere.txt"
lines=$(wc -l <"$tmp/sphere.txt")
width=$(awk '{ if (length($0) > w) w = length($0) } END { print w }' "$tmp/sphere.txt")
{ [ "$lines" -ge 10 ] && [ "$width" -ge 50 ] && [ "$width" -le 60 ] && grep -q '[^ ]' "$tmp/sphere.txt"; } ||
  fail "installed morvel-text made $lines lines, $width wide"
echo "installed morvel-text: sphere.jpg as $lines lines of up to $width characters"
# libheif and libtiff are opened for their pictures only, never linked, and
# the package's Depends brings them.
ldd /usr/bin/morvel-text | grep -Eq 'libheif|libtiff' && fail "morvel-text links libheif or libtiff"
for picture in tests/fuzz/corpus/heif/small.heic tests/fuzz/corpus/tiff/plain.tif; do
  /usr/bin/morvel-text --columns 20 "$picture" >"$tmp/small.txt" ||
    fail "installed morvel-text cannot read $picture"
done

echo "== apt-get remove"
DEBIAN_FRONTEND=noninteractive apt-get remove -y -qq morvel >/dev/null
installed=0
dpkg-query -W -f='${Status}' morvel 2>/dev/null | grep -q 'ok installed' && fail "morvel still installed"
# What stays must be a directory other packages share or fill.
while IFS= read -r path; do
  [ "$path" = / ] || [ "$path" = /. ] || [ ! -e "$path" ] && continue
  if [ -d "$path" ] && { dpkg-query -S "$path" >/dev/null 2>&1 || [ -n "$(ls -A "$path")" ]; }; then
    continue
  fi
  fail "left behind: $path"
done <"$tmp/installed"
echo "removed: none of the package's $(grep -c . "$tmp/installed") paths left behind"
