#!/usr/bin/env bash
# cmake --install puts every file where a desktop finds it, and the metadata
# passes the freedesktop validators.
set -euo pipefail
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$MORVANE_BINARY_DIR" --prefix "$prefix" >/dev/null

fail=0
bad() { echo "$*"; fail=1; }
# A file missing below fails its check, or stops the script naming it.
[ -x "$prefix/bin/morvane" ] || bad "MISSING bin/morvane"

# The manual pages render without a warning, and each has its sections,
# options, exit statuses and keys as lines of their own or the heads of table
# rows and list items.
declare -A items=([morvane]="-h, --help|--version|0|2|Space|Ctrl+O|Ctrl+S|I or [|O or ]|P|Left|Right|Home"
                  [morvane-cut]="--duration|--start|--end|--force|0|1|2|130")
for page in morvane morvane-cut; do
  text=$(zcat "$prefix/share/man/man1/$page.1.gz" | MANWIDTH=100 LC_ALL=C.UTF-8 man --warnings -l - 2>"$prefix/err" \
    | col -bx)
  [ ! -s "$prefix/err" ] || bad "WARNINGS in $page(1): $(cat "$prefix/err")"
  IFS='|' read -ra list <<<"NAME|SYNOPSIS|OPTIONS|EXIT STATUS|WHERE CLIPS GO|${items[$page]}"
  for item in "${list[@]}"; do
    awk -v k="$item" '{ sub(/^ +/, "") } $0 == k || index($0, k " ") == 1 { found = 1 } END { exit !found }' \
      <<<"$text" || bad "$page(1) misses $item"
  done
done

# The copyright file carries the MIT text of LICENSE, which the metadata declares.
source_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$MORVANE_BINARY_DIR/CMakeCache.txt")
grep -q '<project_license>MIT</project_license>' "$source_dir/data/io.github.morvane.Morvane.metainfo.xml" \
  || bad "metadata does not declare MIT"
copyright="$prefix/share/doc/morvane/copyright"
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
