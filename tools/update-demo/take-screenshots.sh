#!/usr/bin/env bash
# take-screenshots.sh BIN OUTDIR
#
# Pictures of the update loop's windows on a virtual display: lays out the
# demo (make-demo.sh) in a temporary folder, serves its update folder on a
# loopback FTP server and runs BIN/update-screenshots under xvfb-run.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: take-screenshots.sh BIN OUTDIR" >&2
  exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
bin=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
state=$(mktemp -d)
trap 'rm -rf "$state"' EXIT

"$here/make-demo.sh" "$bin" "$state"
export XDG_CONFIG_HOME=$state/config

exec {ftp_input}> >(exec /usr/bin/python3 "$here/../../tests/ftpserver/ftpserver.py" \
                      "$state/server" > "$state/ftp-port" 2> "$state/ftp.log")
for _ in $(seq 300); do
  [ -s "$state/ftp-port" ] && break
  sleep 0.1
done
read -r ftp_port < "$state/ftp-port"
export MORAVEL_FTP_HOST=127.0.0.1:$ftp_port

xvfb-run -a -s "-screen 0 1280x1024x24" "$bin/update-screenshots" "$state/program" "$out"
