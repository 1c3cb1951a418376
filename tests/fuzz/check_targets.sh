#!/usr/bin/env bash
# Every picture format the load sequence tells apart (the PictureFormat
# values in image/read_error.h) has a fuzz target of its own: its source
# tests/fuzz/fuzz_<format>.cpp, saved inputs in tests/fuzz/corpus/<format>/,
# and a place among the targets CTest runs.
#   check_targets.sh SOURCE_DIR TARGET...
set -uo pipefail
src=$1
shift
targets=" $* "
formats=$(sed -n '/^enum class PictureFormat/,/^};/p' "$src/image/read_error.h" |
  grep -oE '^ *[A-Z][A-Za-z0-9]*,' | tr -d ' ,' | grep -vx Unknown | tr 'A-Z' 'a-z')
[ -n "$formats" ] || { echo "no picture formats found in image/read_error.h"; exit 1; }
status=0
for f in $formats; do
  [ -f "$src/tests/fuzz/fuzz_$f.cpp" ] || { echo "no fuzz target for $f: tests/fuzz/fuzz_$f.cpp"; status=1; }
  [ -n "$(ls -A "$src/tests/fuzz/corpus/$f" 2>/dev/null)" ] || { echo "no saved inputs for $f: tests/fuzz/corpus/$f/"; status=1; }
  [[ "$targets" == *" $f "* ]] || { echo "fuzz target $f is not in morvel_fuzz_targets"; status=1; }
done
[ $status -eq 0 ] && echo "fuzz targets for:" $formats
exit $status
