#!/usr/bin/env bash
# make package: a Debian package that installs Morvane under /usr, depends on
# the libraries its binaries use and on the GStreamer plug-ins that playback
# loads, and holds stripped binaries that run where dpkg puts them.
set -euo pipefail
for tool in dpkg-deb dpkg-shlibdeps cpack; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing, so no Debian package can be built here"; exit 77; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
(cd "$MORVANE_BINARY_DIR" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; exit 1; }
deb=$(echo "$out"/morvane_*.deb)
[ -f "$deb" ] || { echo "cpack made no single morvane_*.deb: $deb"; exit 1; }

fail=0
bad() { echo "$*"; fail=1; }
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$MORVANE_BINARY_DIR/CMakeCache.txt")
diff <(dpkg-deb -f "$deb" Package Version Architecture Section Priority Maintainer Description | head -7) - <<EOF \
  || bad "WRONG control fields"
Package: morvane
Version: $version
Architecture: $(dpkg --print-architecture)
Section: video
Priority: optional
Maintainer: The Morvane developers <developers@morvane.example>
Description: cut a time range out of a DVD video file
EOF

# Depends: the plug-ins by name, the libraries as dpkg-shlibdeps found them.
depends=$(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
for package in gstreamer1.0-plugins-{base,good,bad,ugly} gstreamer1.0-libav libc6 libstdc++6 libdvdread8 \
               libqt6{core,widgets,multimedia,multimediawidgets,webenginewidgets}6; do
  grep -qx "$package" <<<"$depends" || bad "MISSING dependency $package"
done
stray=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | grep -vE '^\./(usr/.*)?$' || true)
[ -z "$stray" ] || bad "files outside /usr: $stray"

# Unpacked as dpkg would, the binaries run, morvane-cut finds its module,
# and they carry no debugging sections.
root="$out/root"
dpkg-deb -x "$deb" "$root"
source "$(dirname "$0")/cut-module.bash"
check_cut_module "$root/usr/bin" "$out" packaged
said=$("$root/usr/bin/morvane" --version)
[ "$said" = "morvane $version" ] || bad "morvane --version says '$said'"
grep -q '\.debug_info' <<<"$(readelf -S "$root/usr/bin/morvane")" && bad "morvane is not stripped"
exit $fail
