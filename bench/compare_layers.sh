#!/usr/bin/env bash
# `qar layers` over a base and three patches (a million names in all: 970,000 in the base, three
# patches of 10,000, half of each replacing base names) against `qar list` of the base, in one
# run; output to /dev/null, page cache warm, best of RUNS (default 5).
# Usage: [RUNS=N] compare_layers.sh [BUILD_DIR]   (default build-bench; built Release when
# missing). The fixtures (about 280 MB) go to a fresh folder under $TMPDIR, removed on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-5}
if [ ! -x "$build/bench/layers_fixtures" ] || [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=ON >/dev/null
  cmake --build "$build" --target layers_fixtures qar >/dev/null
fi
qar=$build/src/qar
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-layers-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$build/bench/layers_fixtures" "$work"
stack=("$work/base.qar" "$work/patch1.qar" "$work/patch2.qar" "$work/patch3.qar")
cat "${stack[@]}" >/dev/null

now() { date +%s%N; }
best() {  # prints milliseconds
  local best=
  for _ in $(seq "$runs"); do
    local t0; t0=$(now)
    "$@" >/dev/null
    local t1; t1=$(now)
    local ms=$(( (t1 - t0) / 1000000 ))
    if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
  done
  echo "$best"
}

names=$("$qar" layers "${stack[@]}" | wc -l)
hiding=$("$qar" layers "${stack[@]}" | awk -F'\t' '$2 > 0' | wc -l)
t_list=$(best "$qar" list "$work/base.qar")
t_layers=$(best "$qar" layers "${stack[@]}")
t_hidden=$(best "$qar" layers --hidden "${stack[@]}")
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
printf '%-34s %8s\n' "command" "ms"
printf '%-34s %8s\n' "qar list base" "$t_list"
printf '%-34s %8s   %sx list\n' "qar layers base + 3 patches" "$t_layers" "$(ratio "$t_layers" "$t_list")"
printf '%-34s %8s   %sx list\n' "qar layers --hidden" "$t_hidden" "$(ratio "$t_hidden" "$t_list")"
echo "($names merged names, $hiding of them hide another; load average: $(cut -d' ' -f1-3 /proc/loadavg))"
