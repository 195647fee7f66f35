#!/usr/bin/env bash
# Installs the Debian packages this tree needs, when any is missing.
# Usage: scripts/install-deps.sh [build|run]
set -euo pipefail

packages=(
  cmake g++ make pkg-config ccache
  # scripts/check-format.sh, run by ./test
  clang-format
  qt6-base-dev qt6-base-dev-tools libgl-dev
  qt6-serialport-dev
  # the trace graph's SVG pictures
  qt6-svg-dev
  libqcustomplot-dev
  libcurl4-openssl-dev curl libssl-dev openssl
  python3 python3-pyftpdlib
  # ./test runs the tests in a network namespace with only loopback up
  # (unshare is in util-linux), and the network port tests run
  # python3-serial's RFC 2217 server example beside ser2net.
  iproute2 python3-serial
  # Boxes are checked under a window manager on a virtual display, and the
  # update benchmark compares against lftp.
  xvfb openbox x11-utils xdotool lftp
  # The published block indexes are checked with Debian's zsync client and
  # against zsyncmake's; the update benchmark compares against zsync.
  zsync
  # pure-ftpd's own libraries: the TLS tests run it unpacked (below)
  libsodium23 libcap2 libpam0g
  # ser2net's own libraries: the network port tests run it unpacked (below)
  libgensio4 libyaml-0-2
  # The windows' designed "Arial" texts (Liberation Sans has its metrics),
  # and a comma-decimal locale that the tests generate and run under.
  fonts-liberation locales
  # Installation and packages: manual pages, the .deb and its checks.
  help2man dpkg-dev lintian desktop-file-utils appstream
)
if [ "${1:-build}" = run ]; then
  # A window on a machine without a display runs on a virtual one.
  packages+=(xvfb xauth x11-apps imagemagick)
fi

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
export DEBIAN_FRONTEND=noninteractive

missing=()
for p in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
  [ "$status" = "install ok installed" ] || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing Debian packages: ${missing[*]}"
  "${sudo[@]}" apt-get update -qq
  "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# The FTP-over-TLS tests run Debian's pure-ftpd, the HTTPS tests nginx and
# tinyproxy, the network port tests ser2net, each from its unpacked package:
# nothing is installed as a service, nothing listens until a test starts it.
# unpack PACKAGE FOLDER PROGRAM: unpacks PACKAGE into
# /opt/spelmar-tests/FOLDER unless PROGRAM is there.
unpack() {
  local root=/opt/spelmar-tests/$2
  if [ -x "$root/$3" ]; then return 0; fi
  echo "Unpacking $1 into $root (for the tests)"
  local download
  download=$(mktemp -d)
  (cd "$download" && chmod 755 . && apt-get download "$1" >/dev/null 2>&1) \
    || { "${sudo[@]}" apt-get update -qq && (cd "$download" && apt-get download "$1"); }
  "${sudo[@]}" mkdir -p "$root"
  "${sudo[@]}" dpkg -x "$download/$1"_*.deb "$root"
  rm -rf "$download"
}
if [ "${1:-build}" = build ]; then
  unpack pure-ftpd pure-ftpd usr/sbin/pure-ftpd
  unpack nginx nginx usr/sbin/nginx
  unpack tinyproxy-bin tinyproxy usr/bin/tinyproxy
  unpack ser2net ser2net usr/sbin/ser2net
fi
