#!/usr/bin/env bash
# Tests of the command-line converter, one behaviour per case:
#   cli_test.sh MORVEL_TEXT SAMPLE_DIR CASE
# MORVEL_VERSION in the environment is the version --version must print.
set -uo pipefail

bin=$1
samples=$2
case_name=$3

jpg="$samples/sphere.jpg"
gif="$samples/hills.gif"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failures=0
fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}
# expect_status WANT ARGS... : runs the converter, output in $tmp/out and
# $tmp/err, and checks its exit status.
expect_status() {
  local want=$1
  shift
  "$bin" "$@" >"$tmp/out" 2>"$tmp/err"
  local got=$?
  if [ "$got" -ne "$want" ]; then
    fail "morvel-text $* exited $got, expected $want; stderr: $(head -c 400 "$tmp/err")"
  fi
}
# Fails unless file $1 contains the line $2 exactly.
expect_line() {
  grep -qxF -- "$2" "$1" || fail "$1 lacks the line: $2"
}
# Drops from $tmp/tty the questions the converter asks a terminal (which
# this one, script's, does not answer).
strip_questions() {
  sed -i $'s/\x1b\\]11;?\x1b\\\\//g; s/\x1b\\[16t//g; s/\x1b\\[c//g' "$tmp/tty"
}
# The listing of a directory, hidden files included.
listing() { ls -A "$1" | tr '\n' ' '; }

case "$case_name" in

frames)
  # An animation not on a terminal: its first image as a still GIF, one
  # frame, or every frame after a form feed line.
  gifsicle "$gif" "$gif" "$gif" >"$tmp/anim.gif" || fail "gifsicle could not make the animation"
  expect_status 0 --columns 30 "$gif"
  head -n -3 "$tmp/out" >"$tmp/still"
  expect_status 0 --columns 30 "$tmp/anim.gif"
  head -n -3 "$tmp/out" | cmp -s - "$tmp/still" || fail "an animation off a terminal is not its first image"
  expect_status 0 --columns 30 --footer --frames all "$tmp/anim.gif"
  [ "$(grep -cx $'\f' "$tmp/out")" -eq 2 ] || fail "--frames all: not two form feed lines"
  [ "$(grep -cx 'anim.gif' "$tmp/out")" -eq 3 ] || fail "--frames all: not three footers"
  expect_status 0 --columns 30 --frame 3 "$tmp/anim.gif"
  cp "$tmp/out" "$tmp/third"
  expect_status 0 --columns 30 --frame 1 "$tmp/anim.gif"
  cmp -s "$tmp/out" "$tmp/third" || fail "--frame 3 of three equal frames differs from --frame 1"
  expect_status 1 --frame 4 "$tmp/anim.gif"
  expect_line "$tmp/err" "morvel-text: $tmp/anim.gif: there is no frame 4 (the picture has 3)"
  for args in "--frame 0" "--frames some" "--loops -1" "--frame 1 --frames all"; do
    expect_status 2 $args "$tmp/anim.gif"
  done
  ;;

pictures)
  # The text as a PNG or an SVG, chosen by -o's ending or --format.
  expect_status 0 --columns 40 -o "$tmp/a.png" "$jpg"
  [ "$(head -c 8 "$tmp/a.png" | od -An -tx1 | tr -d ' ')" = 89504e470d0a1a0a ] || fail "-o a.png is not a PNG"
  expect_status 0 --columns 40 --format svg -o "$tmp/a.txt" "$jpg"
  head -1 "$tmp/a.txt" | grep -q '^<?xml' || fail "--format svg is not an SVG"
  grep -q '</svg>' "$tmp/a.txt" || fail "the SVG is not whole"
  expect_status 2 --format png -o "$tmp/b.png" "$jpg" "$gif"
  [ -e "$tmp/b.png" ] && fail "a PNG of two pictures was written"
  ;;

help)
  expect_status 0 --help
  for opt in --font --points --weight --italic --dpi --blur --match --gamma --black-level \
             --columns --rows --stretch --invert --background --verbose --jobs --no-footer --color --color-boost \
             --width --height --size --font-ratio --no-enlarge --footer \
             --format --crlf --save-gray -o -h --help -V --version 'PICTURE\.\.\.'; do
    grep -qe "$opt" "$tmp/out" || fail "--help does not mention $opt"
  done
  grep -q "Exit status" "$tmp/out" || fail "--help does not explain the exit status"
  expect_status 0 -h
  grep -q "Exit status" "$tmp/out" || fail "-h is not --help"
  [ -s "$tmp/err" ] && fail "--help wrote to stderr"
  # Every line fits 80 columns.
  expect_status 0 --help
  awk 'length($0) > 80 { exit 1 }' "$tmp/out" || fail "--help has lines wider than 80 columns"
  # The man pages render without a warning, and no font change glues words
  # together (as .BR with arguments that need spaces does: "file))orscaled(").
  for page in "$samples/../../cli/morvel-text.1" "$samples/../../app/morvel.1"; do
    warnings=$(groff -ww -man -z "$page" 2>&1) && [ -z "$warnings" ] || fail "groff warns on $page: $warnings"
    glued=$(groff -man -Tutf8 -P-cbou "$page" 2>/dev/null | grep -E '\)[A-Za-z(]')
    [ -z "$glued" ] || fail "words run together in $page: $glued"
  done
  # Argument errors in one line of Morvel's words, the nearest option named.
  expect_status 2 --colour 256 "$jpg"
  expect_line "$tmp/err" "morvel-text: unknown option --colour; did you mean --color?"
  expect_status 2 -o a.txt -o b.txt "$jpg"
  expect_line "$tmp/err" "morvel-text: -o given more than once"
  ;;

version)
  for opt in --version -V; do
    expect_status 0 $opt
    [ "$(cat "$tmp/out")" = "morvel-text ${MORVEL_VERSION:-?}" ] ||
      fail "$opt printed '$(cat "$tmp/out")', expected 'morvel-text ${MORVEL_VERSION:-?}'"
  done
  ;;

exit-codes)
  # All pictures converted.
  expect_status 0 "$jpg" "$gif"
  # One good and one missing picture: the good one is still converted.
  expect_status 1 --footer "$tmp/missing.gif" "$jpg"
  expect_line "$tmp/err" "morvel-text: cannot read picture: $tmp/missing.gif: No such file or directory"
  grep -qxF "sphere.jpg" "$tmp/out" || fail "the good picture after a missing one was not converted"
  # A file neither decoder reads.
  printf 'not a picture at all\n' >"$tmp/text.jpg"
  expect_status 1 "$tmp/text.jpg"
  expect_line "$tmp/err" "morvel-text: cannot read picture: $tmp/text.jpg: not a GIF, JPEG, PNG, WebP, HEIC, AVIF, TIFF or BMP file"
  [ -s "$tmp/out" ] && fail "a failed picture produced text"
  # Usage errors: each gives 2, a message and the usage hint, and no text.
  usage_errors=(
    ""                       # no picture at all
    "--bogus $jpg"
    "--points 0 $jpg"        "--points 1001 $jpg"    "--points 9x $jpg"
    "--points 0x10 $jpg"     "--points  $jpg"        "--points -3 $jpg"
    "--weight 1001 $jpg"     "--weight -1 $jpg"
    "--dpi 0 $jpg"           "--dpi 10001 $jpg"      "--dpi abc $jpg"
    "--blur -1 $jpg"         "--blur 1001 $jpg"      "--blur 99999999999 $jpg"
    "--match best $jpg"
    "--gamma 0.2 $jpg"       "--gamma 3.1 $jpg"      "--gamma 1e0 $jpg"
    "--gamma -1 $jpg"        "--match difference --gamma 1 $jpg"
    "--black-level 256 $jpg" "--black-level -1 $jpg" "--black-level maximum $jpg"
    "--points 1000 --dpi 10000 $jpg"
    "--points 1 --dpi 10 $jpg"
    "--save-gray $tmp/g.pgm $jpg $gif"
    "--columns 0 $jpg"       "--columns -4 $jpg"     "--columns 10001 $jpg"
    "--columns wide $jpg"    "--columns 8.5 $jpg"    "--columns $jpg"
    "--rows 0 $jpg"          "--rows 10001 $jpg"     "--rows tall $jpg"
    "--background grey $jpg"
    "--jobs 257 $jpg"        "--jobs -1 $jpg"        "--jobs x $jpg"
    "- -"                    "- $jpg -"
  )
  for args in "${usage_errors[@]}"; do
    # shellcheck disable=SC2086  # word splitting of the prepared arguments is wanted
    expect_status 2 $args
    grep -q "^Usage: morvel-text" "$tmp/err" || fail "no usage hint for: $args"
    grep -q "^morvel-text: " "$tmp/err" || fail "no error message for: $args"
    [ -s "$tmp/out" ] && fail "text printed despite the usage error: $args"
  done
  # An empty or unprintable --chars set.
  for set in "" $'\t' $'a\xe9'; do
    expect_status 2 --chars "$set" "$jpg"
    grep -q "^morvel-text: --chars" "$tmp/err" || fail "no --chars message for '$set'"
  done
  # Bounds themselves are accepted.
  expect_status 0 --points 1000 --dpi 36 --blur 0 "$gif"
  expect_status 0 --weight 0 --black-level 255 "$gif"
  expect_status 0 --weight 1000 --blur 1 --black-level max "$gif"
  expect_status 0 --gamma 0.3 "$gif"
  expect_status 0 --gamma 3 --match tone "$gif"
  expect_status 0 --columns 1 --jobs 0 "$gif"
  expect_status 0 --columns 1000 --jobs 256 --no-footer "$gif"
  # A width whose picture would pass the 1 GiB limit is refused per picture.
  expect_status 1 --columns 10000 "$gif"
  grep -q "^morvel-text: cannot scale picture to 10000 columns: $gif" "$tmp/err" || fail "no message for a picture too large to scale"
  [ -s "$tmp/out" ] && fail "a picture that could not be scaled produced text"
  ;;

text-format)
  # LF by default; --crlf gives the engine's CR LF text, the same otherwise.
  expect_status 0 --footer "$jpg"
  cp "$tmp/out" "$tmp/lf"
  expect_status 0 --footer --crlf "$jpg"
  cp "$tmp/out" "$tmp/crlf"
  grep -q $'\r' "$tmp/lf" && fail "the default output holds CR"
  [ "$(grep -c $'\r$' "$tmp/crlf")" -eq "$(wc -l <"$tmp/crlf")" ] || fail "--crlf: not every line ends in CR LF"
  # ... apart from the spaces ending lines, which only --crlf keeps.
  tr -d '\r' <"$tmp/crlf" | sed 's/ *$//' | cmp -s - "$tmp/lf" || fail "--crlf output without its CRs and trailing spaces differs from the LF output"
  grep -q ' $' "$tmp/lf" && fail "the default output has lines ending in spaces"
  grep -q ' '$'\r''$' "$tmp/crlf" || fail "--crlf dropped the spaces ending lines"
  # Only printable ASCII besides the line ends.
  LC_ALL=C grep -q '[^ -~]' "$tmp/lf" && fail "output holds characters outside printable ASCII"
  # The footer: two empty lines, the display name (last path component),
  # point size and face, blur count and black level.
  tail -n 5 "$tmp/lf" >"$tmp/footer"
  printf '\n\nsphere.jpg\n' | cmp -s - <(head -n 3 "$tmp/footer") || fail "footer start: $(head -n 3 "$tmp/footer")"
  # The footer names the face the text was drawn in: the installed
  # monospaced face standing in for the default.
  drawn=$(fc-match -f '%{family[0]}' 'monospace:spacing=mono:scalable=true:weight=80:slant=0')
  fc-list : family | grep -qx 'Lucida Console' && drawn="Lucida Console"
  expect_line "$tmp/footer" "9 Point $drawn"
  # Tone mode by default: its level is the densest ramp character's tone,
  # which depends on the face drawn; pinned to DejaVu Sans Mono at 12 pixels
  # it is 185.
  grep -qE '^\(Blur 3, Black Level [0-9]+\)$' "$tmp/footer" || fail "footer level line: $(tail -n 1 "$tmp/footer")"
  expect_status 0 --footer --font "DejaVu Sans Mono" "$jpg"
  tail -n 1 "$tmp/out" | grep -qx '(Blur 3, Black Level 185)' || fail "DejaVu Sans Mono level: $(tail -n 1 "$tmp/out")"
  # Picture lines: all as long as each other (monospaced default font), a
  # comfortable terminal width, and not all blank.
  tr -d '\r' <"$tmp/crlf" | head -n -5 >"$tmp/lines"
  widths=$(awk '{ print length($0) }' "$tmp/lines" | sort -u)
  [ "$(echo "$widths" | wc -l)" -eq 1 ] || fail "picture lines differ in length: $(echo $widths)"
  [ "$widths" -ge 80 ] && [ "$widths" -le 160 ] || fail "picture lines are $widths characters wide"
  [ "$(wc -l <"$tmp/lines")" -ge 20 ] || fail "only $(wc -l <"$tmp/lines") picture lines"
  [ "$(tr -d ' \n' <"$tmp/lines" | wc -c)" -ge 300 ] || fail "the sphere gave almost no characters"
  # --chars: only those characters and the space in every mode; no footer line.
  for mode in tone correlation difference; do
    expect_status 0 --footer --match $mode --chars '.:-=+*#%@' --columns 60 "$jpg"
    head -n -5 "$tmp/out" >"$tmp/lines"
    LC_ALL=C grep -q '[^ .:=+*#%@-]' "$tmp/lines" && fail "--chars in $mode mode: $(LC_ALL=C grep -o '[^ .:=+*#%@-]' "$tmp/lines" | sort -u | tr -d '\n')"
    [ "$(tr -d ' \n' <"$tmp/lines" | wc -c)" -ge 100 ] || fail "--chars in $mode mode gave almost nothing"
    [ "$(tail -n 3 "$tmp/out" | head -n 1)" = sphere.jpg ] || fail "--chars changed the footer: $(tail -n 5 "$tmp/out")"
  done
  # Options reach the engine and the footer.
  expect_status 0 --footer --match correlation --blur 0 --black-level 17 --points 11 "$jpg"
  expect_line "$tmp/out" "(Blur 0, Black Level 17)"
  expect_line "$tmp/out" "11 Point $drawn"
  expect_status 0 --footer --black-level max "$jpg"
  grep -qE '^\(Blur 3, Black Level ([1-9][0-9]*)\)$' "$tmp/out" || fail "--black-level max: $(tail -n 1 "$tmp/out")"
  expect_status 0 --footer --match difference "$jpg"
  cmp -s "$tmp/out" "$tmp/lf" && fail "--match difference changed nothing"
  # The GIF decodes and converts too; the same run twice gives the same text.
  expect_status 0 --footer "$gif"
  cp "$tmp/out" "$tmp/gif1"
  expect_status 0 --footer "$gif"
  cmp -s "$tmp/out" "$tmp/gif1" || fail "two runs on the GIF differ"
  expect_line "$tmp/out" "hills.gif"
  ;;

no-footer)
  expect_status 0 --footer "$jpg"
  head -n -5 "$tmp/out" >"$tmp/lines"
  expect_status 0 --no-footer "$jpg"
  cmp -s "$tmp/out" "$tmp/lines" || fail "--no-footer is not the text without its five footer lines"
  expect_status 0 --no-footer --crlf --match difference "$jpg"
  tr -d '\r' <"$tmp/out" >"$tmp/nf"
  expect_status 0 --footer --match difference "$jpg"
  head -n -5 "$tmp/out" | cmp -s - "$tmp/nf" || fail "--no-footer differs in difference mode"
  ;;

several-pictures)
  # Each picture's text in turn, one empty line between them.
  expect_status 0 "$jpg"
  cp "$tmp/out" "$tmp/a"
  expect_status 0 "$gif"
  cp "$tmp/out" "$tmp/b"
  expect_status 0 "$jpg" "$gif" "$jpg"
  cat "$tmp/a" <(echo) "$tmp/b" <(echo) "$tmp/a" | cmp -s - "$tmp/out" ||
    fail "three pictures are not the single texts separated by empty lines"
  expect_status 1 "$jpg" "$tmp/none" "$gif"
  cat "$tmp/a" <(echo) "$tmp/b" | cmp -s - "$tmp/out" || fail "a failed picture left a trace in the text"
  expect_status 0 --no-footer --crlf "$gif" "$gif"
  [ "$(grep -c $'^\r$' "$tmp/out")" -eq 1 ] || fail "--no-footer: pictures not separated by one empty line"
  ;;

save-gray)
  # One picture: FILE as given, a binary PGM of the picture's size.
  expect_status 0 --save-gray "$tmp/one.pgm" "$jpg"
  printf 'P5\n800 560\n255\n' | cmp -s - <(head -c 15 "$tmp/one.pgm") || fail "PGM header: $(head -c 15 "$tmp/one.pgm" | od -c)"
  [ "$(stat -c %s "$tmp/one.pgm")" -eq $((15 + 800 * 560)) ] || fail "PGM size $(stat -c %s "$tmp/one.pgm")"
  # The PGM holds the source picture before any black level: the drawing's
  # darkest gray is above 0, where a stretched copy would reach 0.
  [ "$(tail -c 448000 "$tmp/one.pgm" | od -An -v -tu1 | tr -s ' ' '\n' | grep . | sort -n | head -n 1)" -gt 0 ] ||
    fail "the saved picture looks stretched"
  # Several pictures: %d is the picture's 1-based position; nothing is
  # written for a picture that fails.
  expect_status 1 --save-gray "$tmp/p%d-%d.pgm" "$gif" "$tmp/missing.jpg" "$jpg"
  [ "$(listing "$tmp" | tr ' ' '\n' | grep -c '^p')" -eq 2 ] || fail "files written: $(listing "$tmp")"
  printf 'P5\n800 520\n255\n' | cmp -s - <(head -c 15 "$tmp/p1-1.pgm") || fail "p1-1.pgm header"
  [ "$(stat -c %s "$tmp/p1-1.pgm")" -eq $((15 + 800 * 520)) ] || fail "p1-1.pgm size"
  [ -e "$tmp/p3-3.pgm" ] || fail "p3-3.pgm missing"
  [ -e "$tmp/p2-2.pgm" ] && fail "p2-2.pgm written for a missing picture"
  # Format characters other than %d stay as they are.
  expect_status 0 --save-gray "$tmp/%s%n%x.pgm" "$gif"
  [ -e "$tmp/%s%n%x.pgm" ] || fail "a name with other % sequences was not kept literally"
  # An unwritable PGM is reported; the text is still printed.
  expect_status 1 --footer --save-gray "$tmp/no/such/dir/g.pgm" "$gif"
  grep -q "^morvel-text: cannot write $tmp/no/such/dir/g.pgm" "$tmp/err" || fail "no message for the unwritable PGM"
  expect_line "$tmp/out" "hills.gif"
  ;;

output-file)
  expect_status 0 --footer "$jpg" "$gif"
  cp "$tmp/out" "$tmp/expected"
  mkdir "$tmp/dir"
  # -o: the whole text in the file, nothing on stdout, no temporary left.
  expect_status 0 --footer -o "$tmp/dir/art.txt" "$jpg" "$gif"
  cmp -s "$tmp/dir/art.txt" "$tmp/expected" || fail "-o file differs from the standard output text"
  [ -s "$tmp/out" ] && fail "-o also printed the text"
  [ "$(listing "$tmp/dir")" = "art.txt " ] || fail "directory after -o: $(listing "$tmp/dir")"
  # Replacing an existing file; with a failed picture the rest still goes in.
  expect_status 1 --footer -o "$tmp/dir/art.txt" "$jpg" "$tmp/missing.gif"
  cmp -s "$tmp/dir/art.txt" <(head -n "$(grep -n '^(Blur' "$tmp/expected" | head -n 1 | cut -d: -f1)" "$tmp/expected") ||
    fail "-o with a failed picture does not hold the converted one"
  # Nothing converted: the old file stays as it was.
  echo keep >"$tmp/dir/keep.txt"
  expect_status 1 --footer -o "$tmp/dir/keep.txt" "$tmp/missing.gif"
  [ "$(cat "$tmp/dir/keep.txt")" = keep ] || fail "-o replaced a file although nothing converted"
  # Writing fails: a missing directory, a directory in the way. No file and no
  # temporary file are left behind.
  expect_status 1 --footer -o "$tmp/nodir/art.txt" "$jpg"
  [ -e "$tmp/nodir" ] && fail "-o created something in a missing directory"
  grep -q "^morvel-text: cannot write $tmp/nodir/art.txt" "$tmp/err" || fail "no message for -o into a missing directory"
  mkdir "$tmp/dir/sub"
  expect_status 1 --footer -o "$tmp/dir/sub" "$jpg"
  [ "$(listing "$tmp/dir")" = "art.txt keep.txt sub " ] || fail "directory after a failed -o: $(listing "$tmp/dir")"
  [ -z "$(listing "$tmp/dir/sub")" ] || fail "files left in the directory in the way"
  # What the path names is written as a redirection would write it. A named
  # pipe: the reader at the other end gets the text, the pipe stays.
  mkfifo "$tmp/fifo"
  cat "$tmp/fifo" >"$tmp/from-fifo" &
  reader=$!
  expect_status 0 --footer -o "$tmp/fifo" "$jpg" "$gif"
  wait "$reader"
  cmp -s "$tmp/from-fifo" "$tmp/expected" || fail "-o onto a named pipe: the reader got other text"
  [ -p "$tmp/fifo" ] || fail "-o replaced the named pipe"
  # -o - is standard output; /dev/stdout is the caller's own descriptor, so
  # an appending redirection appends.
  expect_status 0 --footer -o - "$jpg" "$gif"
  cmp -s "$tmp/out" "$tmp/expected" || fail "-o - is not standard output"
  echo first >"$tmp/appended"
  "$bin" --footer -o /dev/stdout "$jpg" "$gif" >>"$tmp/appended" 2>/dev/null
  cat <(echo first) "$tmp/expected" | cmp -s - "$tmp/appended" || fail "-o /dev/stdout did not append to the caller's file"
  # A symlink: the file it points to is replaced, the link stays a link.
  echo old >"$tmp/target.txt"
  ln -s target.txt "$tmp/link.txt"
  expect_status 0 --footer -o "$tmp/link.txt" "$jpg" "$gif"
  [ -L "$tmp/link.txt" ] || fail "-o replaced the symlink"
  cmp -s "$tmp/target.txt" "$tmp/expected" || fail "-o through a symlink did not write its target"
  # A private file stays private; a file with two names keeps both, each
  # with the new text; a 250-byte name works.
  echo old >"$tmp/private.txt"
  chmod 600 "$tmp/private.txt"
  ln "$tmp/private.txt" "$tmp/second-name.txt"
  expect_status 0 --footer -o "$tmp/second-name.txt" "$jpg" "$gif"
  [ "$(stat -c %a "$tmp/private.txt")" = 600 ] || fail "-o changed a 0600 file to $(stat -c %a "$tmp/private.txt")"
  [ "$(stat -c %h "$tmp/private.txt")" = 2 ] || fail "-o broke the hard link"
  cmp -s "$tmp/private.txt" "$tmp/expected" || fail "-o did not write the hard-linked file"
  expect_status 0 --footer -o "$tmp/private.txt" "$gif"
  [ "$(stat -c %a "$tmp/private.txt")" = 600 ] || fail "-o rewrote a 0600 file with mode $(stat -c %a "$tmp/private.txt")"
  # Past the file-size limit, a file written in place (it has two names)
  # keeps its old text whole: the space is reserved before it is written.
  head -c 100 "$tmp/expected" >"$tmp/private.txt"
  cp "$tmp/private.txt" "$tmp/small-copy"
  (trap '' XFSZ; ulimit -f 1; "$bin" -o "$tmp/second-name.txt" "$jpg" "$gif" >/dev/null 2>"$tmp/err") &&
    fail "-o past the file-size limit succeeded"
  cmp -s "$tmp/private.txt" "$tmp/small-copy" || fail "-o past the file-size limit damaged the file written in place"
  # A file system without a free inode takes no temporary file: an error,
  # and the old file as it was (a small tmpfs, where this may mount one).
  mkdir "$tmp/full"
  if mount -t tmpfs -o size=64k,nr_inodes=3 tmpfs "$tmp/full" 2>/dev/null; then
    head -c 9600 "$tmp/expected" >"$tmp/full/old.txt"
    dd if=/dev/zero of="$tmp/full/filler" bs=1k count=40 2>/dev/null
    expect_status 1 --columns 300 -o "$tmp/full/old.txt" "$jpg"
    cmp -s "$tmp/full/old.txt" <(head -c 9600 "$tmp/expected") || fail "-o on a full file system lost the old file"
    grep -q "^morvel-text: cannot write $tmp/full/old.txt: .*No space left on device" "$tmp/err" ||
      fail "no message for -o on a full file system: $(cat "$tmp/err")"
    umount "$tmp/full"
  else
    echo "skipped: -o on a full file system (cannot mount a tmpfs here)"
  fi
  long=$(printf 'n%.0s' $(seq 250))
  expect_status 0 --footer -o "$tmp/dir/$long" "$jpg" "$gif"
  cmp -s "$tmp/dir/$long" "$tmp/expected" || fail "-o with a 250-byte name"
  # A device node (made here, as root only) is written in place.
  if mknod "$tmp/null" c 1 3 2>/dev/null; then
    expect_status 0 --footer -o "$tmp/null" "$gif"
    [ -c "$tmp/null" ] || fail "-o replaced a device node"
  else
    echo "skipped: -o onto a device node (mknod needs root)"
  fi
  # A writable file in a directory that takes no new file is written in
  # place; root writes anywhere, so the check runs as nobody.
  mkdir "$tmp/ro"
  echo old >"$tmp/ro/art.txt"
  chmod 666 "$tmp/ro/art.txt"
  chmod 555 "$tmp/ro"
  as_user=()
  [ "$(id -u)" -eq 0 ] && as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  if [ "$(id -u)" -ne 0 ] || command -v setpriv >/dev/null; then
    chmod 755 "$tmp"
    "${as_user[@]}" "$bin" --footer -o "$tmp/ro/art.txt" "$jpg" "$gif" >/dev/null 2>"$tmp/err" ||
      fail "-o into a read-only directory: $(cat "$tmp/err")"
    cmp -s "$tmp/ro/art.txt" "$tmp/expected" || fail "-o did not write the file in the read-only directory"
    chmod 700 "$tmp"
  else
    echo "skipped: -o into a read-only directory (root without setpriv)"
  fi
  chmod 755 "$tmp/ro"
  # SIGTERM while the run waits for its second picture: the temporary file
  # goes and the run ends by the signal.
  mkdir "$tmp/sig"
  mkfifo "$tmp/slow"
  exec 3<>"$tmp/slow"
  "$bin" --footer -o "$tmp/sig/art.txt" "$jpg" - <"$tmp/slow" 2>/dev/null &
  pid=$!
  for _ in $(seq 100); do [ -n "$(listing "$tmp/sig")" ] && break; sleep 0.1; done
  [ -n "$(listing "$tmp/sig")" ] || fail "no temporary file appeared while writing"
  kill -TERM "$pid"
  wait "$pid"
  status=$?
  exec 3>&-
  [ "$status" -eq 143 ] || fail "SIGTERM: status $status, expected 143"
  [ -z "$(listing "$tmp/sig")" ] || fail "SIGTERM left files: $(listing "$tmp/sig")"
  # An output naming an input picture, by any name, or a file named twice
  # as an output: refused before anything is read or written.
  cp "$gif" "$tmp/in1.gif"
  ln -s in1.gif "$tmp/in-link.gif"
  refusals=(
    "-o $tmp/in1.gif $jpg $tmp/in1.gif|output $tmp/in1.gif is also an input picture"
    "-o $tmp/in-link.gif $tmp/in1.gif|output $tmp/in-link.gif is also an input picture"
    "--save-gray $tmp/in1.gif $tmp/in1.gif|output $tmp/in1.gif is also an input picture"
    "--save-gray $tmp/in%d.gif $jpg $tmp/in1.gif|output $tmp/in1.gif is also an input picture"
    "-o $tmp/new.txt --save-gray $tmp/new.txt $gif|$tmp/new.txt is named twice as an output"
  )
  for row in "${refusals[@]}"; do
    # shellcheck disable=SC2086  # word splitting of the prepared arguments is wanted
    expect_status 2 --footer ${row%%|*}
    expect_line "$tmp/err" "morvel-text: ${row#*|}"
  done
  cmp -s "$tmp/in1.gif" "$gif" || fail "a refused run changed the input picture"
  [ -e "$tmp/new.txt" ] && fail "a refused run wrote a file"
  # A full device: the write fails at the end and leaves no file behind.
  if [ -w /dev/full ]; then
    "$bin" --footer "$jpg" >/dev/full 2>"$tmp/err"
    [ $? -eq 1 ] || fail "writing to a full stdout did not give status 1"
    grep -q "^morvel-text: cannot write to standard output" "$tmp/err" || fail "no message for a full stdout"
  fi
  ;;

font-notice)
  # A named face that is not installed: one notice naming the stand-in,
  # however many pictures, and the footer names the stand-in.
  expect_status 0 --footer --font "No Such Face Qx" "$gif" "$gif"
  [ "$(grep -c 'not installed' "$tmp/err")" -eq 1 ] || fail "notice count: $(cat "$tmp/err")"
  grep -qE '^morvel-text: font "No Such Face Qx" is not installed; using "[^"]+"$' "$tmp/err" ||
    fail "notice: $(cat "$tmp/err")"
  used=$(sed -E 's/.*using "([^"]+)"$/\1/' "$tmp/err")
  expect_line "$tmp/out" "9 Point $used"
  # No notice for the default face, a generic family or an installed face.
  for face in "" "--font=monospace" "--font=mono" "--font=sans-serif" "--font=DejaVu Sans Mono"; do
    expect_status 0 --footer ${face:+"$face"} --italic --weight 700 "$gif"
    [ -s "$tmp/err" ] && fail "notice for ${face:-the default face}: $(cat "$tmp/err")"
  done
  expect_line "$tmp/out" "9 Point DejaVu Sans Mono"
  ;;

bad-input)
  # Damaged and odd files never crash the converter: each gives status 0 or 1.
  head -c 0 /dev/null >"$tmp/empty.gif"
  head -c 3000 "$jpg" >"$tmp/cut.jpg"
  head -c 5000 "$gif" >"$tmp/cut.gif"
  head -c 13 "$gif" >"$tmp/header.gif"
  head -c 4096 /dev/urandom >"$tmp/random.bin"
  { head -c 6 "$gif"; head -c 4096 /dev/urandom; } >"$tmp/randomtail.gif"
  { head -c 600 "$jpg"; head -c 4096 /dev/urandom; } >"$tmp/randomtail.jpg"
  mkdir "$tmp/adir"
  for f in empty.gif cut.jpg cut.gif header.gif random.bin randomtail.gif randomtail.jpg adir; do
    "$bin" "$tmp/$f" >"$tmp/out" 2>"$tmp/err"
    status=$?
    [ "$status" -le 1 ] || fail "$f: status $status; $(head -c 400 "$tmp/err")"
    if [ "$status" -eq 1 ]; then
      grep -q "^morvel-text: cannot read picture: $tmp/$f: ." "$tmp/err" || fail "$f: $(cat "$tmp/err")"
    fi
  done
  # One line per failed picture, with the reason in Morvel's words; the JPEG
  # library prints nothing of its own, and a GIF is never called a JPEG.
  head -c 150 "$jpg" >"$tmp/header.jpg"
  printf 'GIF89a\1\0\1\0\0\0\0\54\0\0\0\0\377\377\377\377\0\2\2\114\1\0\73' >"$tmp/huge.gif"
  # PNG headers alone: a size no PNG may have, and one past the limit.
  printf '\211PNG\r\n\32\n\0\0\0\rIHDR\377\377\377\377\377\377\377\377\10\0\0\0\0\367\235\161\342\0\0\0\0IEND\256\102\140\202' >"$tmp/bad.png"
  printf '\211PNG\r\n\32\n\0\0\0\rIHDR\0\0\234\100\0\0\234\100\10\0\0\0\0\164\147\121\331\0\0\0\0IEND\256\102\140\202' >"$tmp/huge.png"
  reasons=(
    "empty.gif|not a GIF, JPEG, PNG, WebP, HEIC, AVIF, TIFF or BMP file"
    "random.bin|not a GIF, JPEG, PNG, WebP, HEIC, AVIF, TIFF or BMP file"
    "header.gif|damaged GIF data"
    "header.jpg|damaged JPEG data (Premature end of JPEG file)"
    "huge.gif|picture larger than the 1 GiB limit"
    "bad.png|damaged PNG data"
    "huge.png|picture larger than the 1 GiB limit"
    "adir|Is a directory"
    "missing.png|No such file or directory"
  )
  # At the natural size, where a picture is held whole.
  for row in "${reasons[@]}"; do
    expect_status 1 --columns natural "$tmp/${row%%|*}"
    grep -v 'not installed' "$tmp/err" >"$tmp/lines"
    [ "$(cat "$tmp/lines")" = "morvel-text: cannot read picture: $tmp/${row%%|*}: ${row#*|}" ] ||
      fail "${row%%|*}: $(cat "$tmp/lines")"
  done
  # A picture that ends early is drawn all the same (status 0), with one
  # line that says so and what fills the rest.
  printf 'GIF89a\2\0\2\0\200\0\0\0\0\0\377\377\377\54\0\0\0\0\2\0\2\0\0\2\2\114\1\0\73' >"$tmp/short.gif"
  head -c 12000 "$jpg" >"$tmp/short.jpg"
  warnings=(
    "short.gif|picture ends early; the rest is drawn as black"
    "short.jpg|picture ends early; the rest is drawn as gray"
  )
  for row in "${warnings[@]}"; do
    expect_status 0 --columns 20 "$tmp/${row%%|*}"
    grep -v 'not installed' "$tmp/err" >"$tmp/lines"
    [ "$(cat "$tmp/lines")" = "morvel-text: $tmp/${row%%|*}: ${row#*|}" ] || fail "${row%%|*}: $(cat "$tmp/lines")"
  done
  # Names with control characters are shown escaped, on one line.
  cp "$gif" "$tmp/new"$'\n'"line.gif"
  expect_status 1 --footer "$tmp/new"$'\n'"line.gif" "$tmp/no"$'\t'"pe.gif"
  expect_line "$tmp/out" 'new\nline.gif'
  expect_line "$tmp/err" "morvel-text: cannot read picture: $tmp/no\\tpe.gif: No such file or directory"
  # Inputs that are not regular files: a named pipe, /dev/stdin, a process
  # substitution, each read to its end.
  expect_status 0 "$gif"
  cp "$tmp/out" "$tmp/gif-text"
  mkfifo "$tmp/pipe.gif"
  cat "$gif" >"$tmp/pipe.gif" &
  expect_status 0 "$tmp/pipe.gif"
  head -n -3 "$tmp/out" | cmp -s - <(head -n -3 "$tmp/gif-text") || fail "a named pipe did not read as the file"
  expect_status 0 /dev/stdin <"$gif"
  cat "$gif" | "$bin" /dev/stdin >"$tmp/out" 2>/dev/null || fail "/dev/stdin on a pipe"
  head -n -3 "$tmp/out" | cmp -s - <(head -n -3 "$tmp/gif-text") || fail "/dev/stdin on a pipe did not read the picture"
  expect_status 0 <(cat "$gif")
  head -n -3 "$tmp/out" | cmp -s - <(head -n -3 "$tmp/gif-text") || fail "a process substitution did not read the picture"
  # Reading stops at the first bytes that begin no picture.
  timeout 5 "$bin" - </dev/zero >/dev/null 2>"$tmp/err"
  [ $? -eq 1 ] || fail "- </dev/zero did not fail at once"
  expect_line "$tmp/err" "morvel-text: cannot read picture: -: not a GIF, JPEG, PNG, WebP, HEIC, AVIF, TIFF or BMP file"
  # A file name starting with '-' after "--", and one with spaces.
  cp "$gif" "$tmp/-odd name.gif"
  expect_status 0 --footer -- "$tmp/-odd name.gif"
  expect_line "$tmp/out" "-odd name.gif"
  ;;

columns-auto)
  # Not a terminal (a pipe, or -o): 80 columns, whatever $COLUMNS says.
  expect_status 0 --no-footer "$jpg"
  cp "$tmp/out" "$tmp/default"
  [ "$(awk '{ print length($0) }' "$tmp/default" | sort -n | tail -n 1)" = 80 ] || fail "a pipe did not get 80 columns"
  COLUMNS=50 expect_status 0 --no-footer --columns auto "$jpg"
  cmp -s "$tmp/out" "$tmp/default" || fail "--columns auto into a pipe changed the size"
  if command -v script >/dev/null; then
    # A terminal 50 columns wide: lines of 50 characters.
    script -qec "stty cols 50 rows 30; '$bin' --background light --color none --crlf --no-footer --columns auto '$jpg'" /dev/null </dev/null >"$tmp/tty" 2>&1
    strip_questions
    tr -d '\r' <"$tmp/tty" | grep -v 'not installed' >"$tmp/ttytext"
    widths=$(awk '{ print length($0) }' "$tmp/ttytext" | sort -u)
    [ "$widths" = 50 ] || fail "--columns auto on a 50-column terminal gave widths: $(echo $widths)"
    # A terminal that tells no width: $COLUMNS.
    COLUMNS=33 script -qec "stty cols 0; '$bin' --background light --color none --crlf --no-footer --columns auto '$jpg'" /dev/null </dev/null >"$tmp/tty" 2>&1
    strip_questions
    widths=$(tr -d '\r' <"$tmp/tty" | grep -v 'not installed' | awk '{ print length($0) }' | sort -u)
    [ "$widths" = 33 ] || fail "--columns auto with COLUMNS=33 gave widths: $(echo $widths)"
    # With -o the text goes to a file: 80 columns.
    script -qec "stty cols 50; '$bin' --no-footer --columns auto -o '$tmp/file.txt' '$jpg'" /dev/null </dev/null >/dev/null 2>&1
    cmp -s "$tmp/file.txt" "$tmp/default" || fail "--columns auto with -o did not give 80 columns"
    # Without sizes a terminal bounds the whole text, footer included, less
    # the prompt's line: on 80 x 24 the wide sphere takes all 23 lines, and
    # --rows auto alone the same height.
    for sizes in "" "--rows auto" "--columns auto --rows auto"; do
      script -qec "stty cols 80 rows 24; '$bin' --footer --background light --color none --crlf $sizes '$jpg'" /dev/null </dev/null >"$tmp/tty" 2>&1
      strip_questions
      tr -d '\r' <"$tmp/tty" >"$tmp/ttytext"
      [ "$(wc -l <"$tmp/ttytext")" -eq 23 ] || fail "'$sizes' on 80 x 24 gave $(wc -l <"$tmp/ttytext") lines"
      widest=$(awk '{ print length($0) }' "$tmp/ttytext" | sort -n | tail -n 1)
      [ "$widest" -le 80 ] || fail "'$sizes' on 80 x 24 gave lines of $widest characters"
    done
    # A small picture fills the screen; with --no-enlarge it keeps its own
    # width, as it does in a pipe.
    convert "$jpg" -resize 10% "$tmp/small.png"
    script -qec "stty cols 80 rows 24; '$bin' --background light --color none --crlf '$tmp/small.png'" /dev/null </dev/null >"$tmp/tty" 2>&1
    strip_questions
    [ "$(tr -d '\r' <"$tmp/tty" | wc -l)" -eq 23 ] || fail "a small picture did not fill the terminal"
    expect_status 0 --no-enlarge --crlf "$tmp/small.png"
    script -qec "stty cols 80 rows 24; '$bin' --no-enlarge --background light --color none --crlf '$tmp/small.png'" /dev/null </dev/null >"$tmp/tty" 2>&1
    strip_questions
    tr -d '\r' <"$tmp/tty" | cmp -s - <(tr -d '\r' <"$tmp/out") || fail "--no-enlarge: a small picture was resized to fit the terminal"
  fi
  ;;

jobs)
  # The number of threads never changes the text.
  expect_status 0 --columns 120 "$jpg" "$gif"
  cp "$tmp/out" "$tmp/default"
  for n in 1 3; do
    expect_status 0 --jobs "$n" --columns 120 "$jpg" "$gif"
    cmp -s "$tmp/out" "$tmp/default" || fail "--jobs $n changed the text"
  done
  ;;

*)
  echo "unknown case: $case_name" >&2
  exit 2
  ;;
esac

if [ "$failures" -ne 0 ]; then
  echo "$case_name: $failures failure(s)" >&2
  exit 1
fi
echo "$case_name: ok"
