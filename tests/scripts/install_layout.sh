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

desktop-file-validate "$prefix/share/applications/io.github.morvane.Morvane.desktop"
appstreamcli validate --no-net "$prefix/share/metainfo/io.github.morvane.Morvane.metainfo.xml"
exit $fail
