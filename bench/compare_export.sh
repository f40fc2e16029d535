#!/usr/bin/env bash
# Export with pictures converted, in one run:
#   2,000 pictures (64 to 1024 on a side): `qar extract --convert png` on 1 and 2 workers, and
#   the way without it: `qar extract` of the raw files, then one ImageMagick `convert` per Targa
#   file and one `qar convert` per KMG file (ImageMagick does not read KMG);
#   one 4096 x 4096 picture: `qar convert` to .png against .bmp.
# Best of four (the old way: two) each, page cache warm. Usage: compare_export.sh [BUILD_DIR] (default build-bench;
# built Release when missing). The fixtures (about 210 MB) go to a fresh folder, removed on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/bench/export_bench" ] || [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=ON >/dev/null
  cmake --build "$build" --target export_bench qar >/dev/null
fi
command -v convert >/dev/null || { echo "ImageMagick's convert is needed (Debian: imagemagick)" >&2; exit 1; }
qar=$build/src/qar
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-export-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
export VORLR_BENCH_DIR=$work
echo "generating fixtures in $work ..." >&2
"$build/bench/export_bench" --generate
cat "$work"/*.qar >/dev/null

now() { date +%s%N; }
ms_of() {  # wall time of a command in ms
  local t0 t1; t0=$(now); "$@" >/dev/null; t1=$(now); echo $(( (t1 - t0) / 1000000 ))
}
best() { local b=""; for t in "$@"; do if [ -z "$b" ] || [ "$t" -lt "$b" ]; then b=$t; fi; done; echo "$b"; }
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }

# The old way: raw files out, then every picture converted on its own.
one_by_one() {
  local out=$1
  "$qar" extract "$work/pictures.qar" -o "$out" >/dev/null
  find "$out" -name '*.TGA' -exec sh -c 'convert "$1" "${1%.TGA}.png" && rm "$1"' _ {} \;
  "$qar" list "$work/pictures.qar" | while IFS=$'\t' read -r index _ _ name; do
    case "$name" in *.KMG) rel=${name//\\//}; "$qar" convert "$work/pictures.qar" "#$index" "$out/${rel%.KMG}.png" --all >/dev/null; rm -f "$out/$rel";; esac
  done
}

# Each run writes into a fresh folder and nothing is deleted until the end: ext4 creates files
# slowly right after many were deleted (it skips recently freed inodes), which would swamp the
# figures. The two worker counts take turns going first.
j1=(); j2=(); old=()
for i in 1 2 3 4; do
  if [ $((i % 2)) = 1 ]; then
    j1+=("$(ms_of "$qar" extract "$work/pictures.qar" -o "$work/j1-$i" --convert png -j 1)")
    j2+=("$(ms_of "$qar" extract "$work/pictures.qar" -o "$work/j2-$i" --convert png -j 2)")
  else
    j2+=("$(ms_of "$qar" extract "$work/pictures.qar" -o "$work/j2-$i" --convert png -j 2)")
    j1+=("$(ms_of "$qar" extract "$work/pictures.qar" -o "$work/j1-$i" --convert png -j 1)")
  fi
done
diff -r "$work/j1-1" "$work/j2-1" >/dev/null || { echo "-j 1 and -j 2 wrote different files" >&2; exit 1; }
for i in 1 2; do old+=("$(ms_of one_by_one "$work/old-$i")"); done
j1=$(best "${j1[@]}"); j2=$(best "${j2[@]}"); old=$(best "${old[@]}")

bmp=(); png=()
for i in 1 2 3 4 5; do
  bmp+=("$(ms_of "$qar" convert "$work/big.qar" BIG.TGA "$work/big.bmp")")
  png+=("$(ms_of "$qar" convert "$work/big.qar" BIG.TGA "$work/big.png")")
done
bmp=$(best "${bmp[@]}"); png=$(best "${png[@]}")

printf '%-58s %8s %8s\n' "case" "ms" "ratio"
printf '%-58s %8d %8s\n' "2,000 pictures: extract --convert png -j 1" "$j1" "1.00"
printf '%-58s %8d %8s\n' "2,000 pictures: extract --convert png -j 2 (vs -j 1)" "$j2" "$(ratio "$j1" "$j2")"
printf '%-58s %8d %8s\n' "2,000 pictures: raw, then convert one by one (vs -j 2)" "$old" "$(ratio "$old" "$j2")"
printf '%-58s %8d %8s\n' "4096 x 4096: qar convert to .bmp" "$bmp" "1.00"
printf '%-58s %8d %8s\n' "4096 x 4096: qar convert to .png (png / bmp)" "$png" "$(ratio "$png" "$bmp")"
