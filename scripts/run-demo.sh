#!/usr/bin/env bash
# Installs what is missing, builds, writes the demo archive and starts the viewer on it, with
# its tree shown at once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" run
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=OFF >/dev/null
cmake --build "$root/build" --target vorlr qar make_demo
# The physical path: the list file names the archive as the viewer's own directory spells it.
demo="$(cd "$root" && pwd -P)/build/demo"
"$root/build/tools/make_demo" "$demo" >/dev/null
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  echo "vorlr: no display found (DISPLAY is not set); start it from a desktop session." >&2
  echo "The demo archive is ready: $demo/demo.qar" >&2
  exit 1
fi
cd "$demo"
exec "$root/build/src/vorlr" demo.qar
