#!/usr/bin/env bash
# "Compare with archive..." against `qar diff` on the same pair of 1,000,000-entry archives
# (compare_bench's fixtures: 64 bytes an entry, 1000 changed, removed, renamed and added): the
# window's comparison until its marked tree is painted, and the comparison alone, each as
# compare_bench measures it (best of 3); `qar diff A B` best of 3. Page cache warm.
# Usage: compare_diff.sh [BUILD_DIR]   (default build-bench; built Release when missing)
# The fixtures (about 700 MiB) go to $VORLR_BENCH_DIR when set (and stay), else to a fresh
# folder under $TMPDIR that is removed on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/bench/compare_bench" ] || [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=ON >/dev/null
  cmake --build "$build" --target compare_bench qar >/dev/null
fi
if [ -n "${VORLR_BENCH_DIR:-}" ]; then
  work=$VORLR_BENCH_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-compare.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  export VORLR_BENCH_DIR=$work
fi
qar=$build/src/qar
"$build/bench/compare_bench" --benchmark_list_tests >/dev/null  # writes what is missing
a=$work/compare-a.qar b=$work/compare-b.qar
cat "$a" "$b" >/dev/null

now() { date +%s%N; }
best=
for _ in 1 2 3; do
  t0=$(now)
  "$qar" diff "$a" "$b" >/dev/null || [ $? -eq 1 ]
  ms=$(( ($(now) - t0) / 1000000 ))
  if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
done
lines=$("$qar" diff "$a" "$b" | wc -l || true)
echo "qar diff: $best ms ($lines lines)"
"$build/bench/compare_bench" --benchmark_format=csv 2>/dev/null | awk -F, -v diff="$best" '
  /^"BM_/ { gsub(/"/, "", $1); printf "%-22s %8.0f ms  %.2f x qar diff\n", $1, $3, $3 / diff }'
