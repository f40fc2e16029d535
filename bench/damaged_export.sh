#!/usr/bin/env bash
# The robustness sweep's damaged demo archives, each exported with its pictures converted:
#   bench/damaged_export.sh [BUILD_DIR]   (default build; needs qar and make_fixtures built)
# Prints the slowest runs and the largest peak resident sizes (GNU time), and the totals.
set -eu
build=${1:-build}
qar=${QAR:-$build/src/qar}  # another qar to compare with
work=$(mktemp -d /tmp/vorlr-damaged-XXXXXX)
trap 'rm -rf "$work"' EXIT
"$build/tools/make_fixtures" damaged "$work/in" >/dev/null
: >"$work/time"
for a in "$work"/in/*.qar; do
  rm -rf "$work/out"
  /usr/bin/time -f "RUN %e %M $(basename "$a")" -a -o "$work/time" \
    "$qar" extract "$a" -o "$work/out" --convert png -j 2 >/dev/null 2>&1 || true
done
grep '^RUN ' "$work/time" | cut -d' ' -f2- >"$work/runs"
echo "archives: $(wc -l <"$work/runs")"
echo "slowest (seconds, peak KB, archive):"; sort -k1,1 -g -r "$work/runs" | head -5
echo "largest (seconds, peak KB, archive):"; sort -k2,2 -g -r "$work/runs" | head -5
awk '{t += $1; if ($1 > 0.5 || $2 > 100 * 1024) n++} END {printf "total %.1f s; over 0.5 s or 100 MB: %d\n", t, n}' "$work/runs"
