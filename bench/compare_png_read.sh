#!/usr/bin/env bash
# Reading one 4096 x 4096 RGBA PNG, in one run, page cache warm, best of seven each:
#   ReadPictureFile (png_read_bench --read), the same file decoded as libspng's own example does
#   it (png_read_bench --spng: RGBA8 into one buffer, chunk CRCs not checked), and ImageMagick
#   (`convert x.png rgba:-` to /dev/null). Each is a whole process, so all three include start-up
#   and reading the file. Then the in-process figures of png_read_bench on the same file.
# Usage: compare_png_read.sh [BUILD_DIR] (default build-bench; built Release when missing).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/bench/png_read_bench" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=ON >/dev/null
  cmake --build "$build" --target png_read_bench >/dev/null
fi
command -v convert >/dev/null || { echo "ImageMagick's convert is needed (Debian: imagemagick)" >&2; exit 1; }
bench=$build/bench/png_read_bench
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-png-read.XXXXXX")
trap 'rm -rf "$work"' EXIT
png=$work/rgba.png
"$bench" --generate "$png"
cat "$png" >/dev/null

now() { date +%s%N; }
ms_of() {  # wall time of a command in ms
  local t0 t1; t0=$(now); "$@" >/dev/null; t1=$(now); echo $(( (t1 - t0) / 1000000 ))
}
best() { local b=""; for t in "$@"; do if [ -z "$b" ] || [ "$t" -lt "$b" ]; then b=$t; fi; done; echo "$b"; }
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }
magick() { convert "$png" rgba:- >/dev/null; }

ours=(); spng=(); im=()
for i in 1 2 3 4 5 6 7; do  # taking turns, so that a busy moment does not favour one
  ours+=("$(ms_of "$bench" --read "$png")")
  spng+=("$(ms_of "$bench" --spng "$png")")
  im+=("$(ms_of magick)")
done
ours=$(best "${ours[@]}"); spng=$(best "${spng[@]}"); im=$(best "${im[@]}")

echo "file: $(stat -c %s "$png") bytes, 4096 x 4096 RGBA; load average: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-52s %8s %8s\n' "reader (whole process)" "ms" "ratio"
printf '%-52s %8d %8s\n' "libspng's example decode" "$spng" "1.00"
printf '%-52s %8d %8s\n' "ReadPictureFile (vs libspng's example)" "$ours" "$(ratio "$ours" "$spng")"
printf '%-52s %8d %8s\n' "ImageMagick convert to rgba:- (vs ReadPictureFile)" "$im" "$(ratio "$im" "$ours")"
echo
VORLR_PNG_FILE=$png "$bench" --benchmark_counters_tabular=true
