#!/usr/bin/env bash
# make package: a Debian package that installs Morvane under /usr, depends on
# the libraries its binaries use and on the GStreamer plug-ins that playback
# loads, and puts every file where Debian expects it.
set -euo pipefail
for tool in dpkg-deb dpkg-shlibdeps cpack; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is missing, so no Debian package can be built here"; exit 77; }
done
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

if ! (cd "$MORVANE_BINARY_DIR" && cpack -G DEB -B "$out" >"$out/cpack.log" 2>&1); then
  cat "$out/cpack.log"; exit 1
fi
debs=("$out"/morvane_*.deb)
[ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || { echo "cpack made no single morvane_*.deb: ${debs[*]}"; exit 1; }
deb=${debs[0]}
echo "built $(basename "$deb"), $(stat -c %s "$deb") bytes"

fail=0
field() { dpkg-deb -f "$deb" "$1"; }
check() { # field, expected value
  local got; got=$(field "$1")
  if [ "$got" = "$2" ]; then echo "ok   $1: $got"; else echo "WRONG $1: '$got', not '$2'"; fail=1; fi
}
check Package morvane
check Version "$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$MORVANE_BINARY_DIR/CMakeCache.txt")"
check Architecture "$(dpkg --print-architecture)"
check Section video
check Priority optional
[ -n "$(field Maintainer)" ] || { echo "no Maintainer"; fail=1; }
summary=$(field Description)
grep -q '^cut a time range out of a DVD video file$' <<<"${summary%%$'\n'*}" \
  || { echo "Description: $summary"; fail=1; }

# Depends: the plug-ins by name, the libraries as dpkg-shlibdeps found them.
depends=$(field Depends | tr ',' '\n' | sed 's/^ *//; s/ .*//')
for p in gstreamer1.0-plugins-base gstreamer1.0-plugins-good gstreamer1.0-plugins-bad \
         gstreamer1.0-plugins-ugly gstreamer1.0-libav libc6 libstdc++6 libqt6core6 libqt6widgets6 libdvdread8 \
         libqt6multimedia6 libqt6multimediawidgets6 libqt6webenginewidgets6; do
  if grep -qx "$p" <<<"$depends"; then echo "ok   depends on $p"; else echo "MISSING dependency $p"; fail=1; fi
done

files=$(dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|')
for f in /usr/bin/morvane /usr/bin/morvane-cut /usr/share/applications/io.github.morvane.Morvane.desktop \
         /usr/share/metainfo/io.github.morvane.Morvane.metainfo.xml /usr/share/man/man1/morvane.1.gz \
         /usr/share/man/man1/morvane-cut.1.gz /usr/share/doc/morvane/copyright \
         /usr/share/icons/hicolor/{16x16,24x24,32x32,48x48}/apps/morvane.png; do
  if grep -qx "$f" <<<"$files"; then echo "ok   $f"; else echo "MISSING $f"; fail=1; fi
done
module=$(grep -E '^/usr/lib/([^/]+/)?morvane/morvane-duration\.so$' <<<"$files" || true)
[ -n "$module" ] && echo "ok   $module" || { echo "MISSING the duration module"; fail=1; }
stray=$(grep -vE '^/usr(/|$)' <<<"$files" || true)
[ -z "$stray" ] || { echo "files outside /usr: $stray"; fail=1; }

# Unpacked as dpkg would, morvane-cut finds its module beside it, and the
# binaries carry no debugging sections.
root="$out/root"
dpkg-deb -x "$deb" "$root"
source "$(dirname "$0")/cut-module.bash"
check_cut_module "$root/usr/bin" "$out" packaged
version=$("$root/usr/bin/morvane" --version)
[ "$version" = "morvane $(field Version)" ] || { echo "morvane --version says '$version'"; fail=1; }
sections=$(readelf -S "$root/usr/bin/morvane")
if grep -q '\.debug_info' <<<"$sections"; then echo "morvane is not stripped"; fail=1; fi
exit $fail
