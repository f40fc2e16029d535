#!/usr/bin/env bash
# `qar tree` against `unzip -Z1` in one run, on the same million names (ten empty entries per
# folder, three folder levels): the qar archive of loader_bench, and a zip of the same names.
# Both archives once with the names in path order and once shuffled; page cache warm; best of 3.
# Usage: compare_tree.sh [BUILD_DIR]   (default build-bench; built Release when missing)
# The fixtures (about 700 MiB) go to $VORLR_BENCH_DIR when set (and stay), else to a fresh
# folder under $TMPDIR that is removed on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/bench/loader_bench" ] || [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=ON >/dev/null
  cmake --build "$build" --target loader_bench qar >/dev/null
fi
if ! command -v unzip >/dev/null; then
  echo "installing unzip ..." >&2
  sudo=(); [ "$(id -u)" -ne 0 ] && sudo=(sudo)
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends unzip >/dev/null
fi
command -v python3 >/dev/null || { echo "compare_tree.sh: python3 is needed to write the zip" >&2; exit 1; }

if [ -n "${VORLR_BENCH_DIR:-}" ]; then
  work=$VORLR_BENCH_DIR
  mkdir -p "$work"
else
  work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-tree-compare.XXXXXX")
  trap 'rm -rf "$work"' EXIT
  export VORLR_BENCH_DIR=$work
fi
qar=$build/src/qar

echo "fixtures in $work ..." >&2
"$build/bench/loader_bench" --benchmark_list_tests >/dev/null  # writes what is missing
for kind in sorted shuffled; do
  [ -s "$work/$kind-1m.zip" ] && continue
  python3 - "$work/$kind-1m.names" "$work/$kind-1m.zip" <<'PY'
import sys, zipfile
with open(sys.argv[1], encoding="latin-1") as names, \
     zipfile.ZipFile(sys.argv[2], "w", zipfile.ZIP_STORED) as z:
    for line in names:
        z.writestr(zipfile.ZipInfo(line.rstrip("\n")), b"")
PY
done

now() { date +%s%N; }
best_of_3() {  # prints milliseconds
  local best=
  for _ in 1 2 3; do
    local t0; t0=$(now)
    "$@" >/dev/null
    local t1; t1=$(now)
    local ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

printf '%-10s %14s %14s %8s\n' "names" "qar tree ms" "unzip -Z1 ms" "ratio"
for kind in sorted shuffled; do
  cat "$work/$kind-1m.qar" "$work/$kind-1m.zip" >/dev/null
  lines_qar=$("$qar" tree "$work/$kind-1m.qar" | wc -l)
  lines_zip=$(unzip -Z1 "$work/$kind-1m.zip" | wc -l)
  t_qar=$(best_of_3 "$qar" tree "$work/$kind-1m.qar")
  t_zip=$(best_of_3 unzip -Z1 "$work/$kind-1m.zip")
  ratio=$(awk -v a="$t_qar" -v b="$t_zip" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  printf '%-10s %14s %14s %8s   (%s tree lines, %s zip names)\n' "$kind" "$t_qar" "$t_zip" "$ratio" "$lines_qar" "$lines_zip"
done
echo "load average: $(cut -d' ' -f1-3 /proc/loadavg)"
