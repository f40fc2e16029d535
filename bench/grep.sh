#!/usr/bin/env bash
# `qar grep -c -F WORD` over one archive against `rg -a -c -F WORD` over the same entries
# extracted to a folder, side by side in one run, page cache warm for both (best of five,
# taking turns). The archive: ENTRIES entries, SIZE_MIB MiB in all (default 100,000 and
# 1024): nine in ten binary entries (.DAT, random bytes), one in ten texts (.TXT, words in
# CR LF lines); WORD in about one entry in fifty.
# Usage: grep.sh [BUILD_DIR]   (default build-bench; built Release when missing)
#        SIZE_MIB=256 ENTRIES=25000 grep.sh    a smaller run
# The fixtures (twice SIZE_MIB) go to a fresh folder under $TMPDIR and are removed on exit.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
size_mib=${SIZE_MIB:-1024}
entries=${ENTRIES:-100000}
if [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF >/dev/null
  cmake --build "$build" --target qar >/dev/null
fi
qar=$build/src/qar
command -v rg >/dev/null || { echo "ripgrep (rg) is not installed" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-grep-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "generating $entries entries, $size_mib MiB in $work ..." >&2
python3 - "$work/files" "$entries" "$size_mib" <<'PY'
import os, random, sys
out, count, mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
mean = mib * 1024 * 1024 // count
words = b"the of health mana sword shield north south lair gold quest stone river tower".split()
pool = os.urandom(1 << 24)
for i in range(count):
    folder = os.path.join(out, "DATA", "D%03d" % (i % 500))
    os.makedirs(folder, exist_ok=True)
    size = rng.randint(mean // 2, mean * 3 // 2)
    hit = rng.randrange(50) == 0
    if i % 10 == 0:
        lines, n = [], 0
        while n < size:
            line = b" ".join(rng.choice(words) for _ in range(rng.randint(3, 12))) + b"\r\n"
            lines.append(line)
            n += len(line)
        data = b"".join(lines)[:size]
        name = "TEXT%06d.TXT" % i
    else:
        start = rng.randrange(len(pool) - size)
        data = pool[start:start + size]
        name = "BIN%06d.DAT" % i
    if hit:
        at = rng.randrange(max(1, len(data) - 16))
        data = data[:at] + b" wyvern " + data[at + 8:]
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)
PY
"$qar" pack "$work/files" "$work/big.qar" >/dev/null
ls -l "$work/big.qar" >&2
cat "$work/big.qar" >/dev/null
find "$work/files" -type f -exec cat {} + >/dev/null

now() { date +%s%N; }
ms_of() {  # wall time in ms of a command, its output discarded
  local t0; t0=$(now)
  "$@" >/dev/null || [ $? = 1 ]
  local t1; t1=$(now)
  echo $(( (t1 - t0) / 1000000 ))
}
min_of() { printf '%s\n' "$@" | sort -n | head -1; }

# Both find the same matches (rg prints only the files that have some).
ours=$("$qar" grep -c -F wyvern "$work/big.qar" | grep -v ':0$' | sed 's/\\/\//g' | sort)
theirs=$(cd "$work/files" && rg -a -c -F wyvern . | sed 's|^\./||' | sort)
[ "$ours" = "$theirs" ] || { echo "qar grep and rg differ" >&2; diff <(echo "$ours") <(echo "$theirs") | head >&2; exit 1; }

qar_ms=(); rg_ms=()
for i in 1 2 3 4 5; do
  if [ $((i % 2)) = 1 ]; then
    qar_ms+=("$(ms_of "$qar" grep -c -F wyvern "$work/big.qar")")
    rg_ms+=("$(ms_of rg -a -c -F wyvern "$work/files")")
  else
    rg_ms+=("$(ms_of rg -a -c -F wyvern "$work/files")")
    qar_ms+=("$(ms_of "$qar" grep -c -F wyvern "$work/big.qar")")
  fi
done
q=$(min_of "${qar_ms[@]}"); r=$(min_of "${rg_ms[@]}")
echo "qar runs: ${qar_ms[*]} ms; rg runs: ${rg_ms[*]} ms" >&2
printf '%-52s %8s %8s\n' "case ($entries entries, $size_mib MiB, $(nproc) cores)" "ms" "vs rg"
printf '%-52s %8d %8s\n' "rg -a -c -F WORD over the extracted files" "$r" "1.00"
printf '%-52s %8d %8s\n' "qar grep -c -F WORD over the archive" "$q" "$(python3 -c "print(f'{$r/$q:.2f}')")"

# The window's Find in contents on the same archive, beside qar grep -n, when it is built
# (-DVORLR_BENCH=ON).
if [ -x "$build/bench/content_find_bench" ]; then
  VORLR_GREP_ARCHIVE="$work/big.qar" VORLR_GREP_WORD=wyvern "$build/bench/content_find_bench"
fi
