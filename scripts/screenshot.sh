#!/usr/bin/env bash
# Pictures of the viewer for a look by eye, written as PNG files to OUT (default build-shots):
#   vorlr-xvfb-start.png   the real program started in the demo folder on a virtual X screen,
#                          under openbox when it is installed (as a desktop would manage it)
#   vorlr-start.png, vorlr-demo.png, vorlr-image-page.png
#                          the window rendered by the GUI test: at start, with the demo archive
#                          loaded and README.TXT selected, and on the Image page
# Usage: scripts/screenshot.sh [OUT] [BUILD]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m "${1:-$root/build-shots}")
build=$(realpath -m "${2:-$root/build-shots/build}")
mkdir -p "$out"

cmake -S "$root" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target vorlr make_demo app_main_window_test -j2

demo="$out/demo"
"$build/tools/make_demo" "$demo" >/dev/null

# A private X display; the server picks a free number and writes it to a file.
numfile=$(mktemp)
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$numfile" 2>/dev/null &
xvfb_pid=$!
cleanup() {
    [ -n "${viewer_pid:-}" ] && kill "$viewer_pid" 2>/dev/null || true
    [ -n "${wm_pid:-}" ] && kill "$wm_pid" 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
    rm -f "$numfile"
}
trap cleanup EXIT
for _ in $(seq 50); do [ -s "$numfile" ] && break; sleep 0.1; done
display_number=$(head -n1 "$numfile")
[ -n "$display_number" ] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$display_number"
if command -v openbox >/dev/null; then
    openbox >/dev/null 2>&1 &
    wm_pid=$!
    sleep 1
fi

(cd "$demo" && QT_QPA_PLATFORM=xcb "$build/src/vorlr") &
viewer_pid=$!
sleep 3
import -window root "$out/vorlr-xvfb-start.png"
kill "$viewer_pid" 2>/dev/null || true
wait "$viewer_pid" 2>/dev/null || true
viewer_pid=

VORLR_SCREENSHOT_DIR="$out" QT_QPA_PLATFORM=offscreen \
    "$build/tests/app_main_window_test" --gtest_filter='*Screenshot*'
ls -l "$out"/*.png
