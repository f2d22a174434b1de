#!/usr/bin/env bash
# on-display.sh PROGRAM [ARGS...]
# Runs a test program on a virtual X display under a window manager, as a
# desktop shows the window. Exits 77 (skipped), saying why, where no display
# can run.
set -u
skip() { echo "SKIP: $*" >&2; exit 77; }
root=$(cd "$(dirname "$0")/../.." && pwd)
"$root/scripts/install-deps" || skip "the display packages could not be installed"
for tool in xvfb-run Xvfb openbox; do
  command -v "$tool" >/dev/null || skip "$tool is not installed"
done
screen=(-s "-screen 0 1024x768x24")
xvfb-run -a "${screen[@]}" true >/dev/null 2>&1 || skip "Xvfb cannot start a display here"

# The program starts once the window manager runs, and the manager ends with it.
export MORVANE_ON_DISPLAY_READY=$(mktemp -u)
exec xvfb-run -a "${screen[@]}" bash -c '
  openbox --startup "touch $MORVANE_ON_DISPLAY_READY" >/dev/null 2>&1 & wm=$!
  for _ in $(seq 100); do [ -e "$MORVANE_ON_DISPLAY_READY" ] && break; sleep 0.1; done
  [ -e "$MORVANE_ON_DISPLAY_READY" ] || { echo "SKIP: openbox did not start" >&2; kill $wm; exit 77; }
  rm -f "$MORVANE_ON_DISPLAY_READY"
  QT_QPA_PLATFORM=xcb "$@"; status=$?
  kill $wm 2>/dev/null
  exit $status' on-display "$@"
