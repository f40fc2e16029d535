#!/usr/bin/env bash
# One small entry changed in a 1 GiB archive: `qar replace ... -o OUT` (which flushes what it
# writes) against `cp` of the archive followed by `sync` of the copy, in one run, taking turns,
# best and median of seven each. The goal: qar at most 1.2 x the time of cp + sync.
# Usage: compare_replace.sh [BUILD_DIR]   (default build-bench; built Release when missing)
# The fixtures (about 3 GiB) go to a fresh folder under $TMPDIR and are removed on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=ON >/dev/null
  cmake --build "$build" --target qar >/dev/null
fi
qar=$build/src/qar
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-replace-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "generating a 1 GiB archive in $work ..." >&2
mkdir -p "$work/in/DATA"
for i in $(seq -w 0 63); do
  head -c $((16 << 20)) /dev/urandom >"$work/in/DATA/BLOB$i.BIN"
  if [ "$i" = 31 ]; then printf 'a small text entry\r\n' >"$work/in/DATA/BLOB31.TXT"; fi
done
"$qar" pack "$work/in" "$work/a.qar"
rm -rf "$work/in"
printf 'the same entry, edited: a little longer now\r\n' >"$work/new.txt"
cat "$work/a.qar" >/dev/null

now() { date +%s%N; }
ms_of() {  # runs a command, prints its wall time in ms
  local t0; t0=$(now)
  "$@"
  local t1; t1=$(now)
  echo $(( (t1 - t0) / 1000000 ))
}
copy_and_sync() { cp "$work/a.qar" "$work/copy.qar" && sync "$work/copy.qar"; }
replace() { "$qar" replace "$work/a.qar" 'DATA\BLOB31.TXT' "$work/new.txt" -o "$work/out.qar"; }

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
cp_ms=(); qar_ms=()
for i in 1 2 3 4 5 6 7; do
  rm -f "$work/copy.qar" "$work/out.qar"; sync
  if [ $((i % 2)) = 1 ]; then
    cp_ms+=("$(ms_of copy_and_sync)"); qar_ms+=("$(ms_of replace)")
  else
    qar_ms+=("$(ms_of replace)"); cp_ms+=("$(ms_of copy_and_sync)")
  fi
done
[ "$("$qar" cat "$work/out.qar" 'DATA\BLOB31.TXT')" = "$(cat "$work/new.txt")" ] ||
  { echo "qar replace wrote the wrong entry" >&2; exit 1; }

min_of() { printf '%s\n' "$@" | sort -n | head -1; }
median_of() { printf '%s\n' "$@" | sort -n | sed -n 4p; }
cp_best=$(min_of "${cp_ms[@]}"); qar_best=$(min_of "${qar_ms[@]}")
cp_median=$(median_of "${cp_ms[@]}"); qar_median=$(median_of "${qar_ms[@]}")
echo "archive: $(stat -c %s "$work/a.qar") bytes, 65 entries; file system: $(stat -f -c %T "$work")"
echo "load average before: $load_before; after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "cp + sync:   ${cp_ms[*]} ms (best $cp_best, median $cp_median)"
echo "qar replace: ${qar_ms[*]} ms (best $qar_best, median $qar_median)"
python3 -c "print(f'qar / (cp + sync): best {$qar_best/$cp_best:.2f}, median {$qar_median/$cp_median:.2f} (goal <= 1.20)')"
