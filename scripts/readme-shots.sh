#!/usr/bin/env bash
# Takes the README's pictures of the three pages under a virtual X server (Xvfb), with a
# PulseAudio null sink for the sound, and writes them to docs/screenshots/.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/deps.sh" test
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$root/build" --target readme_shots
work=$(mktemp -d)
out="$root/docs/screenshots"
mkdir -p "$out"

export XDG_RUNTIME_DIR="$work" PULSE_SERVER="unix:$work/native"
pulseaudio -n --daemonize=no --exit-idle-time=-1 --load="module-null-sink sink_name=shots" \
  --load="module-native-protocol-unix auth-anonymous=1 socket=$work/native" >"$work/pulse.log" 2>&1 &
pulse_pid=$!
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp 5>"$work/display" 2>/dev/null &
xvfb_pid=$!
trap 'kill $pulse_pid $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 50); do [ -s "$work/display" ] && break; sleep 0.1; done
export DISPLAY=":$(head -n1 "$work/display")"
sleep 1

QT_QPA_PLATFORM=xcb "$root/build/tools/readme_shots" "$work/shots"
for f in text image media; do cp "$work/shots/$f.png" "$out/$f.png"; done
ls -l "$out"
