#!/usr/bin/env bash
# Builds the Debian package and installs it into a fresh Debian 12 root made with debootstrap;
# there the installed vorlr must start on the offscreen platform and qar must answer.
#   scripts/deb-check.sh [ROOTFS]    (needs root and access to the Debian mirror)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rootfs=${1:-/tmp/vorlr-deb-root}
"$root/scripts/deps.sh" run
command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap
cmake -S "$root" -B "$root/build-deb" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=OFF >/dev/null
cmake --build "$root/build-deb"
(cd "$root/build-deb" && cpack -G DEB >/dev/null)
deb=$(ls "$root"/build-deb/vorlr_*.deb | head -n1)
if [ ! -x "$rootfs/usr/bin/apt-get" ]; then
  debootstrap --variant=minbase bookworm "$rootfs" >/dev/null
fi
cp "$deb" "$rootfs/tmp/vorlr.deb"
chroot "$rootfs" /bin/sh -c 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/vorlr.deb >/dev/null'
chroot "$rootfs" qar --version
set +e
chroot "$rootfs" /bin/sh -c 'cd /tmp && QT_QPA_PLATFORM=offscreen timeout 5 vorlr'
status=$?
set -e
[ "$status" -eq 124 ] || { echo "vorlr did not keep running (exit $status)" >&2; exit 1; }
echo "vorlr started and ran until stopped; the package installs and works."
command -v desktop-file-validate >/dev/null || apt-get install -y -qq desktop-file-utils >/dev/null
desktop-file-validate "$rootfs/usr/share/applications/vorlr.desktop" && echo "desktop file valid"
