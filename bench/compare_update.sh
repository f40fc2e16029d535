#!/usr/bin/env bash
# qar diff and qar update against their peers, in one run:
#   two 1 GiB archives (64 entries of 16 MiB, one of them changed): `qar diff A B` against
#   `cat A B > /dev/null`, reading both files once;
#   an unchanged update of a 2,000-picture export (`extract --convert png`): `qar update -j 1`
#   against `-j 2`, with `--in-place` (nothing to write: the comparison alone) and with `-o OUT`
#   (the same archive written anew and flushed).
# Best of seven (updates: four), page cache warm. Usage: compare_update.sh [BUILD_DIR] (default
# build-bench; built Release when missing). The fixtures (about 2.5 GB) go to a fresh folder,
# removed on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/bench/export_bench" ] || [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=ON >/dev/null
fi
cmake --build "$build" --target export_bench qar >/dev/null
qar=$build/src/qar
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-update-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

now() { date +%s%N; }
ms_of() {  # wall time of a command in ms; its status is ignored (diff exits 1 when different)
  local t0 t1; t0=$(now); "$@" >/dev/null || true; t1=$(now); echo $(( (t1 - t0) / 1000000 ))
}
best() { local b=""; for t in "$@"; do if [ -z "$b" ] || [ "$t" -lt "$b" ]; then b=$t; fi; done; echo "$b"; }
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }
cat_both() { cat "$1" "$2" >/dev/null; }

echo "generating fixtures in $work ..." >&2
mkdir -p "$work/big"
for i in $(seq -w 0 63); do head -c 16777216 /dev/urandom >"$work/big/part$i.bin"; done
"$qar" pack "$work/big" "$work/A.qar"
printf 'changed' | dd of="$work/big/part42.bin" conv=notrunc status=none
"$qar" pack "$work/big" "$work/B.qar"
rm -rf "$work/big"
[ "$("$qar" diff "$work/A.qar" "$work/B.qar" || true)" = "M part42.bin" ] || { echo "diff gave the wrong answer" >&2; exit 1; }
cat "$work/A.qar" "$work/B.qar" >/dev/null

c=(); d=()
for i in 1 2 3 4 5 6 7; do
  c+=("$(ms_of cat_both "$work/A.qar" "$work/B.qar")")
  d+=("$(ms_of "$qar" diff "$work/A.qar" "$work/B.qar")")
done
c=$(best "${c[@]}"); d=$(best "${d[@]}")
rm -f "$work/A.qar" "$work/B.qar"

VORLR_BENCH_DIR=$work "$build/bench/export_bench" --generate
"$qar" extract "$work/pictures.qar" -o "$work/export" --convert png >/dev/null
cp "$work/pictures.qar" "$work/original.qar"
j1=(); j2=(); o1=(); o2=()
for i in 1 2 3 4; do
  j1+=("$(ms_of "$qar" update "$work/pictures.qar" "$work/export" --in-place -j 1)")
  j2+=("$(ms_of "$qar" update "$work/pictures.qar" "$work/export" --in-place -j 2)")
  o1+=("$(ms_of "$qar" update "$work/pictures.qar" "$work/export" -o "$work/out1.qar" -j 1)")
  o2+=("$(ms_of "$qar" update "$work/pictures.qar" "$work/export" -o "$work/out2.qar" -j 2)")
done
for f in pictures out1 out2; do
  cmp -s "$work/original.qar" "$work/$f.qar" || { echo "an unchanged update changed the archive" >&2; exit 1; }
done
j1=$(best "${j1[@]}"); j2=$(best "${j2[@]}"); o1=$(best "${o1[@]}"); o2=$(best "${o2[@]}")

echo "| case | ms | ratio | target |"
echo "|---|---:|---:|---|"
echo "| \`cat A B > /dev/null\`, 2 x 1 GiB | $c | 1.00 | |"
echo "| \`qar diff A B\` | $d | $(ratio "$d" "$c") of cat | <= 1.5 |"
echo "| unchanged update, 2,000 pictures, \`--in-place -j 1\` | $j1 | 1.00 | |"
echo "| unchanged update, 2,000 pictures, \`--in-place -j 2\` | $j2 | $(ratio "$j1" "$j2") faster | >= 1.7 |"
echo "| unchanged update, 2,000 pictures, \`-o OUT -j 1\` | $o1 | 1.00 | |"
echo "| unchanged update, 2,000 pictures, \`-o OUT -j 2\` | $o2 | $(ratio "$o1" "$o2") faster | |"
