#!/usr/bin/env bash
# qar mount against the kernel's own file system and against qar cat, in one run (needs root or
# fusermount3 rights, and /dev/fuse):
#   1,000,000 entries: from the command's start until `stat` of an entry answers; `find MNT -type f
#   | wc -l`, once more with every name held by the kernel; `du -s MNT` on a fresh mount; against
#   the same find and du over the tree `qar extract` writes to disk (dentries and inodes dropped
#   first where this user may); the serving process's peak resident size (VmHWM);
#   10,000 entries in one folder: `ls -l` of it on a fresh mount, and once a find has listed it,
#   against `ls -l` of the extracted folder (dropped first);
#   one 512 MB entry: `cat MNT/... > /dev/null` (and > a file on the disk and in /dev/shm)
#   against `qar cat` of the entry;
#   2,000 pictures with --convert png: `ls -lR` of their folders on 1 core and on 2 (taskset),
#   and the second `ls -lR` of the same mount (answered from the cache).
# RUNS runs (default 3); each run measures every case once, the peers beside the mount; the table
# gives the median and the range over the runs. BEFORE=QAR adds the mount of another build of qar
# (an older one, say) as a second peer for the walks and the reads. Page cache warm, a fresh mount
# per case. Usage: [RUNS=N] [BEFORE=QAR] compare_mount.sh [BUILD_DIR] (default build-bench; built
# Release when missing). Fixtures (about 1.2 GB) and the extracted trees go to a fresh folder,
# removed on exit; the trees need a million inodes on TMPDIR's file system.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
runs=${RUNS:-3}
before=${BEFORE:-}
if [ ! -x "$build/bench/mount_fixtures" ] || [ ! -x "$build/bench/export_bench" ] || [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=ON >/dev/null
  cmake --build "$build" --target mount_fixtures export_bench qar >/dev/null
fi
qar=$build/src/qar
servers=(mount)
declare -A qarOf=([mount]=$qar)
if [ -n "$before" ]; then servers+=(before); qarOf[before]=$before; fi
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-mount-compare.XXXXXX")
mnt=$work/mnt
mkdir -p "$mnt"
server=""
cleanup() {
  fusermount3 -u "$mnt" 2>/dev/null || true
  [ -n "$server" ] && wait "$server" 2>/dev/null || true
  rm -rf "$work" "/dev/shm/vorlr-mount-out.$$"
}
trap cleanup EXIT
echo "generating fixtures in $work ..." >&2
entry=$("$build/bench/mount_fixtures" "$work")
wide=DATA/D0000
VORLR_BENCH_DIR=$work "$build/bench/export_bench" --generate
"$qar" extract "$work/million.qar" -o "$work/tree" >/dev/null
"$qar" extract "$work/wide.qar" -o "$work/widetree" >/dev/null
cat "$work"/*.qar >/dev/null

now() { date +%s%N; }
ms() { echo $(( ($2 - $1) / 1000000 )); }
declare -A res
add() { res[$1]+="$2 "; }
# Median and range of a case's figures; the ratio of two medians.
median() { python3 -c "import statistics,sys; print(round(statistics.median([int(x) for x in sys.argv[1:]])))" ${res[$1]}; }
range() { python3 -c "import sys; v=[int(x) for x in sys.argv[1:]]; print(f'{min(v)}-{max(v)}')" ${res[$1]}; }
runs_of() { echo "${res[$1]}" | sed 's/ $//; s/ /,/g'; }
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }
# Forgets the dentries and inodes of the disk's trees (and the kernel's other caches of names),
# then lets the freeing settle, so that the walk after it starts cold.
drop() { if [ -w /proc/sys/vm/drop_caches ]; then sync; echo 2 >/proc/sys/vm/drop_caches; dropped=yes; sleep 1; fi; }
dropped=no

# Serves in the foreground, in the background of this shell (so that its pid is known); returns
# once `stat` of $2 under the mount answers. Sets server and started_ms.
serve() {
  local path=$1; shift
  local t0; t0=$(now)
  "$@" --foreground &
  server=$!
  until stat "$mnt/$path" >/dev/null 2>&1; do sleep 0.002; done
  started_ms=$(ms "$t0" "$(now)")
}
cpu_ms() { awk '{print ($14 + $15) * 10}' "/proc/$server/stat"; }  # the server's user + system time
unserve() { fusermount3 -u "$mnt"; wait "$server" || true; server=""; sleep 1; }
timed() { local t0; t0=$(now); "$@" >/dev/null; ms "$t0" "$(now)"; }
count_files() { find "$1" -type f | wc -l; }

loads=()
for run in $(seq "$runs"); do
  loads+=("$(cut -d' ' -f1-3 /proc/loadavg)")
  # Every other run the other server goes first, so that neither always follows the disk's walks.
  order=("${servers[@]}")
  if [ $((run % 2)) = 0 ] && [ ${#servers[@]} = 2 ]; then order=("${servers[1]}" "${servers[0]}"); fi
  for s in "${order[@]}"; do
    q=${qarOf[$s]}
    # 1,000,000 entries: start, find, find again, memory.
    serve "$entry" "$q" mount "$work/million.qar" "$mnt"
    add "$s start" "$started_ms"; add "$s startcpu" "$(cpu_ms)"
    c0=$(cpu_ms); t0=$(now); count=$(count_files "$mnt"); add "$s find" "$(ms "$t0" "$(now)")"
    add "$s findcpu" $(( $(cpu_ms) - c0 ))
    [ "$count" = 1000000 ] || { echo "find counted $count files ($s)" >&2; exit 1; }
    add "$s refind" "$(timed find "$mnt" -type f)"
    add "$s hwm" "$(awk '/VmHWM/ {print int($2 / 1024)}' "/proc/$server/status")"
    unserve
    # The command as users run it: it returns once mounted.
    t0=$(now); "$q" mount "$work/million.qar" "$mnt"; stat "$mnt/$entry" >/dev/null; add "$s bg" "$(ms "$t0" "$(now)")"
    fusermount3 -u "$mnt"; sleep 1
    # du on a fresh mount: a stat of every file.
    serve "$entry" "$q" mount "$work/million.qar" "$mnt"
    c0=$(cpu_ms); add "$s du" "$(timed du -s "$mnt")"; add "$s ducpu" $(( $(cpu_ms) - c0 ))
    unserve
    # 10,000 entries in one folder: ls -l on a fresh mount, and once find has listed the folder.
    serve "$wide" "$q" mount "$work/wide.qar" "$mnt"
    add "$s ls" "$(timed ls -l "$mnt/$wide")"
    unserve
    serve "$wide" "$q" mount "$work/wide.qar" "$mnt"
    find "$mnt" -type f >/dev/null
    add "$s lsafter" "$(timed ls -l "$mnt/$wide")"
    unserve
  done
  # The same walks over the trees on disk: what the kernel's own file system takes here.
  drop; t0=$(now); count=$(count_files "$work/tree"); add "disk find" "$(ms "$t0" "$(now)")"
  [ "$count" = 1000000 ] || { echo "find on disk counted $count files" >&2; exit 1; }
  drop; add "disk du" "$(timed du -s "$work/tree")"
  drop; add "disk ls" "$(timed ls -l "$work/widetree/$wide")"

  # One 512 MB entry, to /dev/null and to a file (each write to a file starts with nothing left
  # to flush from the one before).
  add "qar cat" "$(timed "$qar" cat "$work/large.qar" 'DATA\LARGE.BIN')"
  for s in "${servers[@]}"; do
    serve DATA/LARGE.BIN "${qarOf[$s]}" mount "$work/large.qar" "$mnt"
    add "$s cat" "$(timed cat "$mnt/DATA/LARGE.BIN")"
    unserve
  done
  # To a file, on the disk and in memory (/dev/shm): qar cat and each mount take turns going
  # first, since a write to the disk right after another pays for the other's flushing.
  readers=(qar "${servers[@]}")
  for ((k = 0; k < (run - 1) % ${#readers[@]}; k++)); do readers=("${readers[@]:1}" "${readers[0]}"); done
  for target in disk shm; do
    if [ "$target" = disk ]; then out=$work/out.bin; else out=/dev/shm/vorlr-mount-out.$$; fi
    for s in "${readers[@]}"; do
      rm -f "$out"; sync; sleep 1
      if [ "$s" = qar ]; then
        t0=$(now); "$qar" cat "$work/large.qar" 'DATA\LARGE.BIN' >"$out"; add "qar catf $target" "$(ms "$t0" "$(now)")"
        continue
      fi
      serve DATA/LARGE.BIN "${qarOf[$s]}" mount "$work/large.qar" "$mnt"
      t0=$(now); cat "$mnt/DATA/LARGE.BIN" >"$out"; add "$s catf $target" "$(ms "$t0" "$(now)")"
      cmp "$out" <("$qar" cat "$work/large.qar" 'DATA\LARGE.BIN') || { echo "the mount read other bytes ($s)" >&2; exit 1; }
      unserve
    done
    rm -f "$out"
  done

  # 2,000 pictures, converted on first look.
  for cores in 0 0,1; do
    serve GFX taskset -c "$cores" "$qar" mount "$work/pictures.qar" "$mnt" --convert png
    c0=$(cpu_ms)
    t=$(timed ls -lR "$mnt/GFX")
    if [ "$cores" = 0 ]; then add "pictures one" "$t"; else add "pictures two" "$t"; add "pictures cpu" $(( $(cpu_ms) - c0 )); fi
    add "pictures again" "$(timed ls -lR "$mnt/GFX")"
    unserve
  done
done
pngs=$(serve GFX "$qar" mount "$work/pictures.qar" "$mnt" --convert png; find "$mnt" -name '*.png' | wc -l; unserve)

echo "runs: $runs; load average before each run: $(printf '[%s] ' "${loads[@]}")after: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "machine: $(nproc) cores, $(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo), kernel $(uname -r); dentries dropped before the disk's walks: $dropped"
row() { printf '%-64s %8s %12s %8s  %s\n' "$@"; }
row "case (ms; median and range over the runs)" "median" "range" "ratio" "each run"
line() {  # label, case, [peer case, 'time' (mount / peer) or 'speed' (peer / mount)]
  local m; m=$(median "$2")
  if [ -n "${3:-}" ]; then
    local p; p=$(median "$3")
    if [ "$4" = time ]; then r=$(ratio "$m" "$p"); else r=$(ratio "$p" "$m"); fi
    row "$1" "$m" "$(range "$2")" "$r" "$(runs_of "$2")"
  else
    row "$1" "$m" "$(range "$2")" "" "$(runs_of "$2")"
  fi
}
for s in "${servers[@]}"; do
  line "[$s] 1,000,000 entries: start to first stat (foreground)" "$s start"
  line "[$s] 1,000,000 entries: server CPU time until then" "$s startcpu"
  line "[$s] 1,000,000 entries: qar mount && stat (background start)" "$s bg"
done
line "1,000,000 entries: find on the extracted tree (peer)" "disk find" "disk find" time
for s in "${servers[@]}"; do
  line "[$s] find MNT -type f | wc -l (time vs the peer)" "$s find" "disk find" time
  line "[$s] server CPU time during find" "$s findcpu"
  line "[$s] find MNT again (names held by the kernel)" "$s refind"
  line "[$s] VmHWM after find, MB" "$s hwm"
done
line "1,000,000 entries: du -s of the extracted tree (peer)" "disk du" "disk du" time
for s in "${servers[@]}"; do
  line "[$s] du -s MNT, fresh mount (time vs the peer)" "$s du" "disk du" time
  line "[$s] server CPU time during du" "$s ducpu"
done
line "10,000 files in one folder: ls -l on disk (peer)" "disk ls" "disk ls" time
for s in "${servers[@]}"; do
  line "[$s] ls -l MNT/$wide, fresh mount (time vs the peer)" "$s ls" "disk ls" time
  line "[$s] ls -l MNT/$wide once find listed it (time vs the peer)" "$s lsafter" "disk ls" time
done
line "512 MB entry: qar cat > /dev/null" "qar cat" "qar cat" speed
for s in "${servers[@]}"; do line "[$s] cat MNT/... > /dev/null (speed vs qar cat)" "$s cat" "qar cat" speed; done
for target in disk shm; do
  line "512 MB entry: qar cat > file ($target)" "qar catf $target" "qar catf $target" speed
  for s in "${servers[@]}"; do line "[$s] cat MNT/... > file ($target; speed vs qar cat)" "$s catf $target" "qar catf $target" speed; done
done
line "2,000 pictures ($pngs PNG files): ls -lR, 1 core" "pictures one" "pictures one" time
line "2,000 pictures: ls -lR, 2 cores (speed-up)" "pictures two" "pictures one" speed
line "2,000 pictures: server CPU time of that ls -lR, 2 cores" "pictures cpu"
line "2,000 pictures: second ls -lR (cached)" "pictures again"
