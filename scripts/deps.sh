#!/usr/bin/env bash
# Installs the Debian 12 packages the build needs, when missing.  deps.sh [run|test]
set -euo pipefail
kind=${1:-run}
pkgs=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-multimedia-dev
      libsndfile1-dev libmpg123-dev libspng-dev libcli11-dev libimagequant-dev libxxhash-dev
      libfuse3-dev fuse3 libgl-dev libpcre2-dev)
if [ "$kind" = test ]; then
  pkgs+=(libgtest-dev libgmock-dev libbenchmark-dev clang libclang-rt-14-dev libfuzzer-14-dev
         xvfb xauth x11-apps imagemagick pulseaudio libstb-dev libqt6multimedia6
         qt6-qpa-plugins gstreamer1.0-plugins-base lame bash-completion openbox xdg-utils file xdotool
         ccache)
else
  pkgs+=(qt6-qpa-plugins xdg-utils libpcre2-8-0)
fi
missing=()
for p in "${pkgs[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo=()
[ "$(id -u)" -ne 0 ] && sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
