#!/usr/bin/env bash
# Extraction against cp in one run, page cache warm:
#   one 512 MiB entry: ExtractEntry (extract_bench) vs cp of the same bytes;
#   20,000 entries, 1 GiB: `qar extract` vs `cp -r` of the same files.
# Usage: compare_extract.sh [BUILD_DIR]   (default build-bench; built Release when missing)
# The fixtures (about 3 GiB) go to a fresh folder under $TMPDIR and are removed on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/bench/extract_bench" ] || [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF >/dev/null
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
# Best of three: prints milliseconds. $1 = cleanup command, rest = the timed command.
best_of_3() {
  local clean=$1; shift
  local best=
  for _ in 1 2 3; do
    eval "$clean"; sync
    local t0; t0=$(now)
    "$@"
    local t1; t1=$(now)
    local ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  eval "$clean"; sync
  echo "$best"
}
bench_ms() {  # best real time in ms of one benchmark over three repetitions
  "$bench" --benchmark_filter="$1" --benchmark_repetitions=3 --benchmark_format=json 2>/dev/null |
    python3 -c 'import json,sys; d=json.load(sys.stdin); print(round(min(b["real_time"] for b in d["benchmarks"] if b.get("run_type")=="iteration")))'
}
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }  # speed of the first relative to the second = t2/t1

cp_big=$(best_of_3 'rm -f "$work/copy.bin"' cp "$work/big.bin" "$work/copy.bin")
ee_big=$(bench_ms BM_ExtractEntry512MiB)
cp_many=$(best_of_3 'rm -rf "$work/copy"' cp -r "$work/many" "$work/copy")
qar_many=$(best_of_3 'rm -rf "$work/out"' "$qar" extract "$work/many.qar" -o "$work/out")
lib_many=$(bench_ms BM_ExtractEntries20000)

mibs() { python3 -c "print(f'{$1/($2/1000):.0f}')"; }
printf '%-44s %8s %10s %8s\n' "case" "ms" "MiB/s" "vs cp"
printf '%-44s %8d %10s %8s\n' "cp, one 512 MiB file" "$cp_big" "$(mibs 512 "$cp_big")" "1.00"
printf '%-44s %8d %10s %8s\n' "ExtractEntry, one 512 MiB entry" "$ee_big" "$(mibs 512 "$ee_big")" "$(ratio "$cp_big" "$ee_big")"
printf '%-44s %8d %10s %8s\n' "cp -r, 20,000 files, 1 GiB" "$cp_many" "$(mibs 1024 "$cp_many")" "1.00"
printf '%-44s %8d %10s %8s\n' "qar extract, 20,000 entries, 1 GiB" "$qar_many" "$(mibs 1024 "$qar_many")" "$(ratio "$cp_many" "$qar_many")"
printf '%-44s %8d %10s %8s\n' "ExtractEntries (library), 20,000 entries" "$lib_many" "$(mibs 1024 "$lib_many")" "$(ratio "$cp_many" "$lib_many")"
