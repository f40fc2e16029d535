#!/usr/bin/env bash
# Extraction against cp in one run, page cache warm:
#   one 512 MiB entry: ExtractEntry (extract_bench) vs cp of the same bytes;
#   20,000 entries, 1 GiB: `qar extract` vs `cp -r` of the same files (best of four each).
# Usage: compare_extract.sh [BUILD_DIR]   (default build-bench; built Release when missing)
# The fixtures (about 3 GiB) go to a fresh folder under $TMPDIR and are removed on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/bench/extract_bench" ] || [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=ON >/dev/null
  cmake --build "$build" --target extract_bench qar >/dev/null
fi
bench=$build/bench/extract_bench
qar=$build/src/qar
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-extract-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
export VORLR_BENCH_DIR=$work

echo "generating fixtures in $work ..." >&2
"$bench" --generate
cat "$work/big.qar" "$work/big.bin" "$work/many.qar" >/dev/null
find "$work/many" -type f -exec cat {} + >/dev/null

now() { date +%s%N; }
ms_of() {  # runs a command, prints its wall time in ms
  sync
  local t0; t0=$(now)
  "$@"
  local t1; t1=$(now)
  echo $(( (t1 - t0) / 1000000 ))
}
bench_ms() {  # best real time in ms of one benchmark over three repetitions
  "$bench" --benchmark_filter="$1" --benchmark_repetitions=3 --benchmark_format=json 2>/dev/null |
    python3 -c 'import json,sys; d=json.load(sys.stdin); print(round(min(b["real_time"] for b in d["benchmarks"] if b.get("run_type")=="iteration")))'
}
min_of() { printf '%s\n' "$@" | sort -n | head -1; }
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }  # t(cp) / t(ours): 1.00 is as fast as cp

# One 512 MiB entry.
cp_big=()
for i in 1 2 3; do rm -f "$work/copy.bin"; sync; cp_big+=("$(ms_of cp "$work/big.bin" "$work/copy.bin")"); done
rm -f "$work/copy.bin"
ee_big=$(bench_ms BM_ExtractEntry512MiB)
cp_big=$(min_of "${cp_big[@]}")

# 20,000 files: cp and qar take turns, each going first in turn, each into a fresh folder,
# nothing deleted in between (ext4 creates files slowly right after many were deleted).
cp_many=(); qar_many=()
for i in 1 2 3 4; do
  if [ $((i % 2)) = 1 ]; then
    cp_many+=("$(ms_of cp -r "$work/many" "$work/copy-$i")")
    qar_many+=("$(ms_of "$qar" extract "$work/many.qar" -o "$work/out-$i")")
  else
    qar_many+=("$(ms_of "$qar" extract "$work/many.qar" -o "$work/out-$i")")
    cp_many+=("$(ms_of cp -r "$work/many" "$work/copy-$i")")
  fi
done
diff -r "$work/many" "$work/out-1" >/dev/null || { echo "qar extract wrote different files" >&2; exit 1; }
lib_many=$(bench_ms BM_ExtractEntries20000)
rm -rf "$work"/copy-* "$work"/out-*
cp_many=$(min_of "${cp_many[@]}"); qar_many=$(min_of "${qar_many[@]}")

mibs() { python3 -c "print(f'{$1/($2/1000):.0f}')"; }
printf '%-44s %8s %10s %8s\n' "case" "ms" "MiB/s" "vs cp"
printf '%-44s %8d %10s %8s\n' "cp, one 512 MiB file" "$cp_big" "$(mibs 512 "$cp_big")" "1.00"
printf '%-44s %8d %10s %8s\n' "ExtractEntry, one 512 MiB entry" "$ee_big" "$(mibs 512 "$ee_big")" "$(ratio "$cp_big" "$ee_big")"
printf '%-44s %8d %10s %8s\n' "cp -r, 20,000 files, 1 GiB" "$cp_many" "$(mibs 1024 "$cp_many")" "1.00"
printf '%-44s %8d %10s %8s\n' "qar extract, 20,000 entries, 1 GiB" "$qar_many" "$(mibs 1024 "$qar_many")" "$(ratio "$cp_many" "$qar_many")"
printf '%-44s %8d %10s %8s\n' "ExtractEntries (library), 20,000 entries" "$lib_many" "$(mibs 1024 "$lib_many")" "$(ratio "$cp_many" "$lib_many")"
