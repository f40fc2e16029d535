#!/usr/bin/env bash
# qar mount, in one run (needs root or fusermount3 rights, and /dev/fuse):
#   1,000,000 entries: from the command's start until `stat` of an entry answers; `find MNT
#   -type f | wc -l`, once more with every name held by the kernel, and against the same find
#   over the tree `qar extract` writes to disk (dentries and inodes dropped first where this
#   user may); the serving process's peak resident size (VmHWM);
#   one 512 MB entry: `cat MNT/... > /dev/null` (and > a file) against `qar cat` of the entry;
#   2,000 pictures with --convert png: `ls -lR` of their folders on 1 core and on 2 (taskset),
#   and the second `ls -lR` of the same mount (answered from the cache).
# Best of three each, page cache warm, a fresh mount per run. Usage: compare_mount.sh [BUILD_DIR]
# (default build-bench; built Release when missing). Fixtures (about 1.2 GB) go to a fresh
# folder, removed on exit; the extracted tree needs a million inodes on TMPDIR's file system.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-bench}
if [ ! -x "$build/bench/mount_fixtures" ] || [ ! -x "$build/bench/export_bench" ] || [ ! -x "$build/src/qar" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=ON >/dev/null
  cmake --build "$build" --target mount_fixtures export_bench qar >/dev/null
fi
qar=$build/src/qar
work=$(mktemp -d "${TMPDIR:-/tmp}/vorlr-mount-compare.XXXXXX")
mnt=$work/mnt
mkdir -p "$mnt"
server=""
cleanup() {
  fusermount3 -u "$mnt" 2>/dev/null || true
  [ -n "$server" ] && wait "$server" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
echo "generating fixtures in $work ..." >&2
entry=$("$build/bench/mount_fixtures" "$work")
VORLR_BENCH_DIR=$work "$build/bench/export_bench" --generate
cat "$work"/*.qar >/dev/null

now() { date +%s%N; }
ms() { echo $(( ($2 - $1) / 1000000 )); }
best() { local b=""; for t in "$@"; do if [ -z "$b" ] || [ "$t" -lt "$b" ]; then b=$t; fi; done; echo "$b"; }
ratio() { python3 -c "print(f'{$1/$2:.2f}')"; }

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
unserve() { fusermount3 -u "$mnt"; wait "$server" || true; server=""; }

# 1,000,000 entries.
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
starts=(); startcpu=(); finds=(); findcpu=(); refind=(); hwm=(); bg=()
for i in 1 2 3; do
  serve "$entry" "$qar" mount "$work/million.qar" "$mnt"
  starts+=("$started_ms"); startcpu+=("$(cpu_ms)")
  c0=$(cpu_ms)
  t0=$(now); count=$(find "$mnt" -type f | wc -l); finds+=("$(ms "$t0" "$(now)")")
  findcpu+=($(( $(cpu_ms) - c0 )))
  [ "$count" = 1000000 ] || { echo "find counted $count files" >&2; exit 1; }
  t0=$(now); find "$mnt" -type f >/dev/null; refind+=("$(ms "$t0" "$(now)")")
  hwm+=("$(awk '/VmHWM/ {print int($2 / 1024)}' "/proc/$server/status")")
  unserve
  # The command as users run it: it returns once mounted.
  t0=$(now); "$qar" mount "$work/million.qar" "$mnt"; stat "$mnt/$entry" >/dev/null; bg+=("$(ms "$t0" "$(now)")")
  fusermount3 -u "$mnt"
done

# The same walk over the tree on disk: what the kernel's own file system takes on this machine.
"$qar" extract "$work/million.qar" -o "$work/tree" >/dev/null
disk=(); dropped=no
for i in 1 2 3; do
  if [ -w /proc/sys/vm/drop_caches ]; then sync; echo 2 >/proc/sys/vm/drop_caches; dropped=yes; fi
  t0=$(now); count=$(find "$work/tree" -type f | wc -l); disk+=("$(ms "$t0" "$(now)")")
  [ "$count" = 1000000 ] || { echo "find on disk counted $count files" >&2; exit 1; }
done
rm -rf "$work/tree"

# One 512 MB entry.
cats=(); mounts=(); catf=(); mountf=()
for i in 1 2 3; do
  t0=$(now); "$qar" cat "$work/large.qar" 'DATA\LARGE.BIN' >/dev/null; cats+=("$(ms "$t0" "$(now)")")
  serve DATA/LARGE.BIN "$qar" mount "$work/large.qar" "$mnt"
  t0=$(now); cat "$mnt/DATA/LARGE.BIN" >/dev/null; mounts+=("$(ms "$t0" "$(now)")")
  unserve
  # Each write to a file starts with nothing left to flush from the one before.
  rm -f "$work/out.bin"; sync
  t0=$(now); "$qar" cat "$work/large.qar" 'DATA\LARGE.BIN' >"$work/out.bin"; catf+=("$(ms "$t0" "$(now)")")
  rm -f "$work/out.bin"; sync
  serve DATA/LARGE.BIN "$qar" mount "$work/large.qar" "$mnt"
  t0=$(now); cat "$mnt/DATA/LARGE.BIN" >"$work/out.bin"; mountf+=("$(ms "$t0" "$(now)")")
  cmp "$work/out.bin" <("$qar" cat "$work/large.qar" 'DATA\LARGE.BIN') || { echo "the mount read other bytes" >&2; exit 1; }
  unserve
  rm -f "$work/out.bin"
done

# 2,000 pictures, converted on first look.
one=(); two=(); again=(); pictcpu=()
for i in 1 2 3; do
  for cores in 0 0,1; do
    serve GFX taskset -c "$cores" "$qar" mount "$work/pictures.qar" "$mnt" --convert png
    c0=$(cpu_ms)
    t0=$(now); ls -lR "$mnt/GFX" >/dev/null; t=$(ms "$t0" "$(now)")
    if [ "$cores" = 0 ]; then one+=("$t"); else two+=("$t"); pictcpu+=($(( $(cpu_ms) - c0 ))); fi
    t0=$(now); ls -lR "$mnt/GFX" >/dev/null; again+=("$(ms "$t0" "$(now)")")
    unserve
  done
done
pngs=$(serve GFX "$qar" mount "$work/pictures.qar" "$mnt" --convert png; find "$mnt" -name '*.png' | wc -l; unserve)

echo "load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-62s %8s %8s\n' "case" "ms" "ratio"
printf '%-62s %8d\n' "1,000,000 entries: start to first stat (foreground)" "$(best "${starts[@]}")"
printf '%-62s %8d\n' "1,000,000 entries: server CPU time until then" "$(best "${startcpu[@]}")"
printf '%-62s %8d\n' "1,000,000 entries: qar mount && stat (background start)" "$(best "${bg[@]}")"
d=$(best "${disk[@]}"); f=$(best "${finds[@]}")
printf '%-62s %8d %8s\n' "1,000,000 entries: find on the extracted tree (dropped: $dropped)" "$d" "1.00"
printf '%-62s %8d %8s\n' "1,000,000 entries: find MNT -type f | wc -l (time vs disk)" "$f" "$(ratio "$f" "$d")"
printf '%-62s %8d\n' "1,000,000 entries: find MNT again (names held by the kernel)" "$(best "${refind[@]}")"
printf '%-62s %8d\n' "1,000,000 entries: server CPU time during find" "$(best "${findcpu[@]}")"
printf '%-62s %8s\n' "1,000,000 entries: VmHWM after find, MB (max of runs)" "$(printf '%s\n' "${hwm[@]}" | sort -n | tail -1)"
c=$(best "${cats[@]}"); m=$(best "${mounts[@]}")
printf '%-62s %8d %8s\n' "512 MB entry: qar cat > /dev/null" "$c" "1.00"
printf '%-62s %8d %8s\n' "512 MB entry: cat MNT/... > /dev/null (speed vs qar cat)" "$m" "$(ratio "$c" "$m")"
c=$(best "${catf[@]}"); m=$(best "${mountf[@]}")
printf '%-62s %8d %8s\n' "512 MB entry: qar cat > file" "$c" "1.00"
printf '%-62s %8d %8s\n' "512 MB entry: cat MNT/... > file (speed vs qar cat)" "$m" "$(ratio "$c" "$m")"
o=$(best "${one[@]}"); t=$(best "${two[@]}")
printf '%-62s %8d %8s\n' "2,000 pictures ($pngs PNG files): ls -lR, 1 core" "$o" "1.00"
printf '%-62s %8d %8s\n' "2,000 pictures: ls -lR, 2 cores (speed-up)" "$t" "$(ratio "$o" "$t")"
printf '%-62s %8d\n' "2,000 pictures: server CPU time of that ls -lR, 2 cores" "$(best "${pictcpu[@]}")"
printf '%-62s %8d\n' "2,000 pictures: second ls -lR (cached)" "$(printf '%s\n' "${again[@]}" | sort -n | tail -1)"
