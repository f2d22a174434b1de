#!/usr/bin/env bash
# cmake --install puts every file where a desktop finds it, and the metadata
# passes the freedesktop validators.
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

cmake --install "$MORVANE_BINARY_DIR" --prefix "$prefix" >/dev/null

fail=0
expect() {
  if [ -e "$prefix/$1" ]; then echo "ok   $1"; else echo "MISSING $1"; fail=1; fi
}
expect bin/morvane
expect bin/morvane-cut
expect share/applications/io.github.morvane.Morvane.desktop
expect share/metainfo/io.github.morvane.Morvane.metainfo.xml
expect share/doc/morvane/copyright

# The manual pages are real troff that man renders without a warning, and
# each covers what its page promises.
for page in morvane morvane-cut; do
  file="share/man/man1/$page.1.gz"
  expect "$file"
  [ -e "$prefix/$file" ] || continue
  text=$(zcat "$prefix/$file" | MANWIDTH=100 LC_ALL=C.UTF-8 man --warnings -l - 2>"$prefix/man.err" | col -bx)
  if [ -s "$prefix/man.err" ]; then echo "WARNINGS in $file: $(cat "$prefix/man.err")"; fail=1; fi
  for heading in NAME SYNOPSIS OPTIONS "EXIT STATUS" "WHERE CLIPS GO"; do
    grep -q "^$heading" <<<"$text" || { echo "NO $heading in $file"; fail=1; }
  done
done
# Rendered once: grep -q ending a pipe early would fail it under pipefail.
man_text() { zcat "$prefix/share/man/man1/$1.1.gz" | MANWIDTH=100 LC_ALL=C.UTF-8 man -l - 2>/dev/null | col -bx; }
declare -A page_text=([morvane]="$(man_text morvane)" [morvane-cut]="$(man_text morvane-cut)")
# A line of page $1 that starts with $2 and a blank: a table row or a list item.
has_item() {
  awk -v k="$2 " '{ sub(/^ +/, "") } index($0, k) == 1 { found = 1 } END { exit !found }' <<<"${page_text[$1]}"
}
for status in 0 1 2 130; do
  has_item morvane-cut "$status" || { echo "morvane-cut(1) misses exit status $status"; fail=1; }
done
for status in 0 2; do
  has_item morvane "$status" || { echo "morvane(1) misses exit status $status"; fail=1; }
done
for key in Space Ctrl+O Ctrl+S "I or [" "O or ]" P Left Right Home; do
  has_item morvane "$key" || { echo "morvane(1) misses the key $key"; fail=1; }
done
for option in --help --version; do
  grep -q -- "$option" <<<"${page_text[morvane]}" || { echo "morvane(1) misses $option"; fail=1; }
done
for option in --duration --start --end --force; do
  grep -q -- "$option" <<<"${page_text[morvane-cut]}" || { echo "morvane-cut(1) misses $option"; fail=1; }
done

# The copyright file carries the MIT text of LICENSE, which the metadata declares.
source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$MORVANE_BINARY_DIR/CMakeCache.txt")
grep -q '<project_license>MIT</project_license>' "$source_dir/data/io.github.morvane.Morvane.metainfo.xml" \
  || { echo "metadata does not declare MIT"; fail=1; }
head -1 "$source_dir/LICENSE" | grep -qx 'MIT License' || { echo "LICENSE is not the MIT text"; fail=1; }
grep -qx 'Copyright (c) 2026 The Morvane developers' "$source_dir/LICENSE" \
  || { echo "LICENSE names no holder"; fail=1; }
if [ -e "$prefix/share/doc/morvane/copyright" ]; then
  grep -q '^License: Expat$' "$prefix/share/doc/morvane/copyright" || { echo "copyright names no license"; fail=1; }
  diff <(tail -n +5 "$source_dir/LICENSE") \
       <(sed -n '/^License: Expat$/,$p' "$prefix/share/doc/morvane/copyright" | tail -n +2 | sed 's/^ \.$//; s/^ //') \
    || { echo "copyright text differs from LICENSE"; fail=1; }
fi

# A file manager offers Morvane for a VOB: the entry takes a file and lists
# the type this desktop gives *.vob.
desktop="$prefix/share/applications/io.github.morvane.Morvane.desktop"
grep -qx 'Exec=morvane %f' "$desktop" || { echo "the entry takes no file"; fail=1; }
vob_type=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p; /<glob pattern="\*\.vob"\/>/q' \
  /usr/share/mime/packages/freedesktop.org.xml | tail -1)
grep -q "^MimeType=\(.*;\)\?$vob_type;" "$desktop" || { echo "the entry lacks '$vob_type'"; fail=1; }
for size in 16 24 32 48; do
  icon="share/icons/hicolor/${size}x${size}/apps/morvane.png"
  expect "$icon"
  # The PNG header carries the width and height as big-endian words.
  dims=$(od -An -tu1 -j16 -N8 "$prefix/$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || { echo "WRONG SIZE $icon: $dims"; fail=1; }
done

# The tool loads the player, and with it the GUI libraries, only to read a
# duration it was not given.
if ldd "$prefix/bin/morvane-cut" | grep -E 'Qt6(Gui|Widgets|Multimedia|Network|DBus)'; then
  echo "morvane-cut links GUI libraries"; fail=1
fi
source "$(dirname "$0")/cut-module.bash"
check_cut_module "$prefix/bin" "$(mktemp -d "$prefix/cut.XXXXXX")" installed

desktop-file-validate "$prefix/share/applications/io.github.morvane.Morvane.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/io.github.morvane.Morvane.metainfo.xml"
exit $fail
