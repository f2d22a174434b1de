#!/usr/bin/env bash
# cmake --install puts every file where a desktop finds it, and the metadata
# passes the freedesktop validators.
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$MORVANE_BINARY_DIR" --prefix "$prefix" >/dev/null

fail=0
bad() { echo "$*"; fail=1; }
for file in bin/morvane bin/morvane-cut share/applications/io.github.morvane.Morvane.desktop \
            share/metainfo/io.github.morvane.Morvane.metainfo.xml share/doc/morvane/copyright \
            share/man/man1/morvane.1.gz share/man/man1/morvane-cut.1.gz; do
  [ -e "$prefix/$file" ] || bad "MISSING $file"
done
[ $fail = 0 ] || exit 1

# The manual pages render without a warning and cover what each promises:
# its exit statuses and keys as table rows or list items (a line that starts
# with one and a blank), and its options.
declare -A items=([morvane]="0|2|Space|Ctrl+O|Ctrl+S|I or [|O or ]|P|Left|Right|Home" [morvane-cut]="0|1|2|130")
declare -A options=([morvane]="--help --version" [morvane-cut]="--duration --start --end --force")
for page in morvane morvane-cut; do
  text=$(zcat "$prefix/share/man/man1/$page.1.gz" | MANWIDTH=100 LC_ALL=C.UTF-8 man --warnings -l - 2>"$prefix/err" \
    | col -bx)
  [ ! -s "$prefix/err" ] || bad "WARNINGS in $page(1): $(cat "$prefix/err")"
  for heading in NAME SYNOPSIS OPTIONS "EXIT STATUS" "WHERE CLIPS GO"; do
    grep -q "^$heading" <<<"$text" || bad "$page(1) has no $heading"
  done
  IFS='|' read -ra list <<<"${items[$page]}"
  for item in "${list[@]}"; do
    awk -v k="$item " '{ sub(/^ +/, "") } index($0, k) == 1 { found = 1 } END { exit !found }' <<<"$text" \
      || bad "$page(1) misses $item"
  done
  for option in ${options[$page]}; do
    grep -q -- "$option" <<<"$text" || bad "$page(1) misses $option"
  done
done

# The copyright file carries the MIT text of LICENSE, which the metadata declares.
source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$MORVANE_BINARY_DIR/CMakeCache.txt")
grep -q '<project_license>MIT</project_license>' "$source_dir/data/io.github.morvane.Morvane.metainfo.xml" \
  || bad "metadata does not declare MIT"
head -1 "$source_dir/LICENSE" | grep -qx 'MIT License' || bad "LICENSE is not the MIT text"
copyright="$prefix/share/doc/morvane/copyright"
grep -q '^License: Expat$' "$copyright" || bad "copyright names no license"
diff <(tail -n +5 "$source_dir/LICENSE") \
     <(sed -n '/^License: Expat$/,$p' "$copyright" | tail -n +2 | sed 's/^ \.$//; s/^ //') \
  || bad "copyright text differs from LICENSE"

# A file manager offers Morvane for a VOB: the entry takes a file and lists
# the type this desktop gives *.vob.
desktop="$prefix/share/applications/io.github.morvane.Morvane.desktop"
grep -qx 'Exec=morvane %f' "$desktop" || bad "the entry takes no file"
vob_type=$(sed -n 's/.*<mime-type type="\([^"]*\)".*/\1/p; /<glob pattern="\*\.vob"\/>/q' \
  /usr/share/mime/packages/freedesktop.org.xml | tail -1)
grep -q "^MimeType=\(.*;\)\?$vob_type;" "$desktop" || bad "the entry lacks '$vob_type'"
for size in 16 24 32 48; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/morvane.png"
  # The PNG header carries the width and height as big-endian words.
  dims=$(od -An -tu1 -j16 -N8 "$icon" | awk '{print $3*256+$4 "x" $7*256+$8}')
  [ "$dims" = "${size}x${size}" ] || bad "WRONG SIZE $icon: $dims"
done

# The tool loads the player, and with it the GUI libraries, only to read a
# duration it was not given.
if ldd "$prefix/bin/morvane-cut" | grep -E 'Qt6(Gui|Widgets|Multimedia|Network|DBus)'; then
  bad "morvane-cut links GUI libraries"
fi
source "$(dirname "$0")/cut-module.bash"
check_cut_module "$prefix/bin" "$(mktemp -d "$prefix/cut.XXXXXX")" installed

desktop-file-validate "$desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/io.github.morvane.Morvane.metainfo.xml"
exit $fail
