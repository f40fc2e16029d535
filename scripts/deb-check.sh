#!/usr/bin/env bash
# Builds the Debian package and installs it into a Debian 12 root made with debootstrap, as on
# a desktop that has the usual MIME, desktop-entry and AppStream tools. There the package's
# triggers must register the .qar type and the viewer for it, its metadata must validate, vorlr
# must answer --version without a display and open a file argument, and qar must work.
#   scripts/deb-check.sh [ROOTFS]    (needs root and access to the Debian mirror)
# An existing ROOTFS is reused: the package is removed there first, then installed again.
# VORLR_DEB_BUILD_DIR names an existing build folder to make the package in (the test script
# passes its own, which saves a second build); by default build-deb, a Release build.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
rootfs=${1:-/tmp/vorlr-deb-root}
build=${VORLR_DEB_BUILD_DIR:-$root/build-deb}
start=$SECONDS
phase() { echo "== $1 ($((SECONDS - start)) s)"; }
fail() { echo "deb-check: $*" >&2; exit 1; }
"$root/scripts/deps.sh" run
command -v debootstrap >/dev/null || apt-get install -y -qq debootstrap

phase "package"
if [ -z "${VORLR_DEB_BUILD_DIR:-}" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORLR_TESTS=OFF -DVORLR_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j2
rm -f "$build"/vorlr_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/vorlr_*.deb | head -n1)

phase "root"
# One check at a time per root.
mkdir -p "$rootfs"
exec 9>"$rootfs/.deb-check.lock"
flock 9
if [ ! -x "$rootfs/usr/bin/apt-get" ]; then
  debootstrap --variant=minbase bookworm "$rootfs" >/dev/null
fi
in_root() { chroot "$rootfs" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 /bin/sh -c "$1"; }
# The tools first, so that what vorlr's installation changes is the work of the triggers.
in_root 'apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
  shared-mime-info desktop-file-utils xdg-utils libfile-mimeinfo-perl appstream bash-completion >/dev/null'
in_root 'dpkg --purge vorlr >/dev/null 2>&1 || true'
in_root 'mkdir -p /tmp/demo/DATA && echo hello >/tmp/demo/DATA/README.TXT'
in_root 'rm -f /tmp/demo.qar && cp /bin/true /tmp/demo.qar && cp /bin/true /tmp/DEMO.QAR'
[ "$(in_root 'xdg-mime query filetype /tmp/demo.qar')" != application/x-vorlund-qar ] ||
  fail "the .qar type is known before the package is installed"

phase "install"
cp "$deb" "$rootfs/tmp/vorlr.deb"
in_root 'DEBIAN_FRONTEND=noninteractive apt-get install -y -qq /tmp/vorlr.deb >/dev/null'
in_root 'qar --version'
in_root 'rm -f /tmp/demo.qar /tmp/DEMO.QAR && qar pack /tmp/demo /tmp/demo.qar && cp /tmp/demo.qar /tmp/DEMO.QAR && qar cat /tmp/demo.qar DATA/README.TXT' |
  grep -qx hello || fail "qar does not pack and read an archive"

phase "desktop integration"
for f in demo.qar DEMO.QAR; do
  type=$(in_root "cd /tmp && xdg-mime query filetype $f")
  [ "$type" = application/x-vorlund-qar ] || fail "$f is of type '$type'"
  echo "xdg-mime query filetype $f: $type"
done
app=$(in_root 'xdg-mime query default application/x-vorlund-qar')
[ "$app" = vorlr.desktop ] || fail "the default application for .qar files is '$app'"
echo "xdg-mime query default application/x-vorlund-qar: $app"
in_root 'desktop-file-validate /usr/share/applications/vorlr.desktop' && echo "desktop file valid"
in_root 'appstreamcli validate --no-net /usr/share/metainfo/org.vorlr.vorlr.metainfo.xml'
in_root 'bash -c ". /usr/share/bash-completion/bash_completion && _completion_loader qar; complete -p qar"' |
  grep -q -- '-F _qar qar$' || fail "bash does not load the completion for qar"
echo "bash completion for qar loads"

phase "programs"
version=$(in_root 'vorlr --version')
[ "$version" = "vorlr $(sed -n 's/^project(vorlr VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")" ] ||
  fail "vorlr --version answered '$version'"
echo "vorlr --version: $version"
# Started from the folder with a relative name; ended by timeout's SIGTERM, which closes the
# window like Quit, so the list file shows the archive was taken, as a full path.
set +e
in_root 'cd /tmp && rm -f VORLR.LST && QT_QPA_PLATFORM=offscreen timeout --preserve-status 5 vorlr demo.qar'
status=$?
set -e
[ "$status" -eq 0 ] || fail "vorlr did not run until stopped (exit $status)"
[ "$(tr -d '\r' <"$rootfs/tmp/VORLR.LST")" = /tmp/demo.qar ] || fail "VORLR.LST: $(cat -A "$rootfs/tmp/VORLR.LST")"
echo "vorlr opened demo.qar and listed it as /tmp/demo.qar"
phase "done: the package installs and works"
