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
dir=$(mktemp -d "$prefix/cut.XXXXXX")
head -c 100000 /dev/urandom >"$dir/noise.vob"
if "$prefix/bin/morvane-cut" --start 1 --end 2 "$dir/noise.vob" "$dir/clip.vob" 2>"$dir/err"; then
  echo "random bytes got a duration"; fail=1
elif grep -q "module cannot be loaded" "$dir/err"; then
  echo "installed morvane-cut cannot find its player module: $(cat "$dir/err")"; fail=1
else
  echo "ok   morvane-cut reads durations through the installed player module"
fi

desktop-file-validate "$prefix/share/applications/io.github.morvane.Morvane.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/io.github.morvane.Morvane.metainfo.xml"
exit $fail
