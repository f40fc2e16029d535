#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole suite: a normal build, an ASan+UBSan build,
# and each fuzz target for a short time. Exits non-zero on any failure.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
jobs=$(nproc)
fuzz_seconds=${VORLR_FUZZ_SECONDS:-10}
"$root/scripts/deps.sh" test

# A PulseAudio server with a null sink for the sound tests; stopped on exit.
pulse_dir=$(mktemp -d)
export XDG_RUNTIME_DIR="$pulse_dir" PULSE_RUNTIME_PATH="$pulse_dir/pulse"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
  --system=false --load="module-null-sink sink_name=vorlr_null" \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$pulse_dir/native" \
  >"$pulse_dir/log" 2>&1 &
pulse_pid=$!
export PULSE_SERVER="unix:$pulse_dir/native"
trap 'kill $pulse_pid 2>/dev/null; wait $pulse_pid 2>/dev/null; rm -rf "$pulse_dir"' EXIT

# The mount tests skip where FUSE cannot be used; where it can, they must run.
if [ -e /dev/fuse ] && [ "$(id -u)" -eq 0 ]; then
  export VORLR_REQUIRE_FUSE=1
fi

# A compiler cache: a run after an earlier one (in any clone) compiles only what changed. Paths
# under the clone are hashed relative to it, so that clones in other folders share the cache.
launcher=()
if command -v ccache >/dev/null; then
  export CCACHE_BASEDIR="$root" CCACHE_NOHASHDIR=1
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi

echo "== Build and test"
# Line tables are all the failures' stack traces need, and full debug information doubles
# the time of the builds' compiling and linking on two cores.
cmake -S "$root" -B "$root/build-test" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  "${launcher[@]}" >/dev/null
cmake --build "$root/build-test" -j "$jobs"
ctest --test-dir "$root/build-test" --output-on-failure -j "$jobs"

# The package in a Debian 12 root (needs root and the Debian mirror): about 25 s with the root
# kept from an earlier run, 1.5 to 4 minutes when it is made anew. VORLR_DEB_CHECK=1 runs it
# here; by default it is left to scripts/deb-check.sh, so that the suite never depends on the
# mirror being reachable.
if [ "${VORLR_DEB_CHECK:-0}" = 1 ] && [ "$(id -u)" -eq 0 ]; then
  echo "== Package check"
  VORLR_DEB_BUILD_DIR="$root/build-test" "$root/scripts/deb-check.sh"
fi

echo "== ASan+UBSan build and test, fuzz targets"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:detect_odr_violation=0
export LSAN_OPTIONS="suppressions=$root/tests/lsan.supp:print_suppressions=0"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
CC=clang CXX=clang++ cmake -S "$root" -B "$root/build-asan" -G Ninja -DCMAKE_BUILD_TYPE=Debug \
  -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only -DCMAKE_C_FLAGS_DEBUG=-gline-tables-only -DVORLR_SANITIZE=ON -DVORLR_FUZZ=ON -DVORLR_BENCH=OFF \
  "${launcher[@]}" >/dev/null
cmake --build "$root/build-asan" -j "$jobs"
ctest --test-dir "$root/build-asan" --output-on-failure -j "$jobs"

# Each target starts from the fixtures the tests use, besides what earlier runs found.
seeds="$root/build-asan/fuzz-seeds"
rm -rf "$seeds"
"$root/build-asan/tools/make_fixtures" seeds "$seeds"
for target in "$root"/build-asan/fuzz/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus="$root/build-asan/fuzz-corpus/$name"
  mkdir -p "$corpus" "$seeds/$name"
  echo "-- $name (${fuzz_seconds}s)"
  "$target" -max_total_time="$fuzz_seconds" -rss_limit_mb=2048 -timeout=10 -print_final_stats=0 \
    "$corpus" "$seeds/$name" >"$root/build-asan/$name.log" 2>&1 || { tail -50 "$root/build-asan/$name.log"; exit 1; }
done
echo "All tests passed."
