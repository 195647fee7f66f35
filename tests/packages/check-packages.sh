#!/usr/bin/env bash
# check-packages.sh BUILD FTPSERVER VERSION
#
# Builds the .deb and the .tar.gz from the build folder BUILD and checks
# them: the .deb's files, its dependencies on Debian's packages and lintian
# (when installed); the .tar.gz unpacked and moved to a new place, where its
# programs run and Quennet updates the program folder from a loopback FTP
# server (FTPSERVER is the test server script; VERSION the release that
# the programs report).
set -euo pipefail
build=$1
ftpserver=$2
release=$3
work=$(mktemp -d)
server_pid=
# Waits until no program of the unpacked folder runs any more.
programs_ended() {
  local exe
  for _ in $(seq 60); do
    exe=$(find /proc/[0-9]*/exe -maxdepth 0 -printf '%l\n' 2>/dev/null | grep -F "$work/" || true)
    [ -z "$exe" ] && return 0
    sleep 1
  done
  return 1
}
cleanup() {
  [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
  programs_ended || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

(cd "$build" && cpack -B "$work/out" -G "DEB;TGZ") >"$work/cpack.log" 2>&1 \
  || { cat "$work/cpack.log" >&2; fail "cpack"; }
deb=$(ls "$work"/out/*.deb)
tgz=$(ls "$work"/out/*.tar.gz)

# The .deb: the program folder, the commands, desktop integration, and
# dependencies found by dpkg-shlibdeps plus the libraries loaded at run time.
listing=$(dpkg-deb -c "$deb" | awk '{ print $6 }')
for path in ./usr/lib/spelmar/Spelmar ./usr/lib/spelmar/libMoravel.so \
    ./usr/lib/spelmar/Quennet ./usr/lib/spelmar/RelInfoLocal.rel \
    ./usr/lib/spelmar/spelmar-cli ./usr/lib/spelmar/moravel-cli \
    ./usr/bin/spelmar ./usr/bin/spelmar-cli ./usr/bin/moravel-cli \
    ./usr/share/applications/com.norvane.Spelmar.desktop \
    ./usr/share/metainfo/com.norvane.Spelmar.metainfo.xml \
    ./usr/share/icons/hicolor/256x256/apps/com.norvane.Spelmar.png \
    ./usr/share/doc/spelmar/copyright; do
  grep -qxF "$path" <<<"$listing" || fail "$path missing from the .deb"
done
depends=$(dpkg-deb -f "$deb" Depends)
for package in libqt6widgets6 libqt6serialport6 libcurl4 qt6-qpa-plugins; do
  grep -q "$package" <<<"$depends" || fail "Depends lacks $package: $depends"
done
if command -v lintian >/dev/null; then
  lintian --fail-on error --suppress-tags-from-file /dev/null "$deb" >"$work/lintian.log" 2>&1 \
    || { cat "$work/lintian.log" >&2; fail "lintian reports errors"; }
else
  echo "lintian not installed: not run"
fi

# The .tar.gz, unpacked and then moved: its programs find their folder
# wherever it lies.
mkdir "$work/unpacked" "$work/elsewhere"
tar -xzf "$tgz" -C "$work/unpacked"
mv "$work"/unpacked/* "$work/elsewhere/spelmar"
top=$work/elsewhere/spelmar
program=$top/lib/spelmar
version=$("$top/bin/spelmar" --version)
[ "$version" = "Spelmar $release" ] || fail "spelmar --version: $version"
"$top/bin/moravel-cli" --help >/dev/null || fail "moravel-cli --help"

# Self-update of the moved folder: the server offers a newer Spelmar;
# Quennet loads the library beside itself, installs it with a backup and
# starts the new Spelmar, which ends once its window is shown.
updates=$work/server/Spelmar/Updates
mkdir -p "$updates"
cp "$program/Spelmar" "$updates/Spelmar"
printf '\nSpelmar release 99.00.00\n' >>"$updates/Spelmar"
printf 'Spelmar; 99.00.00\r\n' >"$updates/RelInfoRemote.rel"
coproc SERVER { exec /usr/bin/python3 "$ftpserver" "$work/server"; }
server_pid=$SERVER_PID
read -r -t 30 port <&"${SERVER[0]}" || fail "FTP server did not start"
export MORAVEL_FTP_HOST=127.0.0.1:$port SPELMAR_TEST_ANSWERS=yes QT_QPA_PLATFORM=offscreen
export SPELMAR_EXIT_WHEN_SHOWN=1
export XDG_CONFIG_HOME=$work/config
(cd "$program" && timeout 120 ./Quennet Spelmar/Updates "$program/Spelmar") \
  >"$work/quennet.log" 2>&1 || { cat "$work/quennet.log" >&2; fail "Quennet"; }
cmp -s "$program/Spelmar" "$updates/Spelmar" || { cat "$work/quennet.log" >&2; fail "Spelmar not updated"; }
backups=$(find "$program" -mindepth 1 -maxdepth 1 -type d -regextype posix-extended -regex '.*/[0-9]{12}')
[ -f "$backups/Spelmar" ] || fail "no backup of the replaced Spelmar"
grep -q '^Spelmar; 99.00.00' "$program/RelInfoLocal.rel" || fail "RelInfoLocal.rel not rewritten"
for _ in $(seq 60); do
  grep -q 'main window shown' "$work/quennet.log" && break
  sleep 1
done
grep -q 'main window shown' "$work/quennet.log" || { cat "$work/quennet.log" >&2; fail "the new Spelmar did not start"; }
echo "packages checked: $(basename "$deb") $(basename "$tgz")"
