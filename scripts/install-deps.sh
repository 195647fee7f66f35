#!/usr/bin/env bash
# Installs the Debian packages this tree needs, when any is missing.
# Usage: scripts/install-deps.sh [build|run]
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-serialport-dev
  libqcustomplot-dev
  libcurl4-openssl-dev curl
  python3 python3-pyftpdlib
  # Installation and packages: manual pages, the .deb and its checks.
  help2man dpkg-dev lintian desktop-file-utils appstream
)
if [ "${1:-build}" = run ]; then
  # A window on a machine without a display runs on a virtual one.
  packages+=(xvfb xauth x11-apps imagemagick)
fi

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing Debian packages: ${missing[*]}"
sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
