#!/usr/bin/env bash
# make-demo.sh BIN STATE
#
# Lays out an update demonstration below STATE from the programs in BIN
# (Spelmar, libMoravel.so, Quennet, moravel-cli):
#   STATE/keys/                    the demo publisher's key pair (demo.key,
#                                  demo.pub), made anew each time
#   STATE/server/Spelmar/Updates/  what the update server offers: a newer
#                                  Spelmar, a newer readme.txt, the
#                                  unchanged library, installer and key,
#                                  LatestUpdate.html, and RelInfoRemote.rel
#                                  with its signature RelInfoRemote.rel.sig,
#                                  published by moravel-cli with demo.key
#   STATE/program/                 the installed program with the older
#                                  RelInfoLocal.rel and the publisher's
#                                  moravel.pub beside libMoravel.so, so the
#                                  library takes only signed updates
#   STATE/config/                  XDG_CONFIG_HOME with the update reminder
#                                  on and a check due at every start
# Earlier contents of server/ and program/ and the reminder values are
# replaced; the tracker's own settings in config/ are kept.
set -euo pipefail

if [ $# -ne 2 ]; then
  echo "usage: make-demo.sh BIN STATE" >&2
  exit 2
fi
bin=$1
state=$2

server=$state/server/Spelmar/Updates
program=$state/program
config=$state/config
keys=$state/keys
rm -rf "$state/server" "$program" "$keys"
mkdir -p "$server" "$program" "$config/Norvane" "$keys"
"$bin/moravel-cli" keygen "$keys/demo" >/dev/null
cp "$keys/demo.pub" "$program/moravel.pub"
cp "$keys/demo.pub" "$server/moravel.pub"

for file in Spelmar libMoravel.so Quennet; do
  cp "$bin/$file" "$program/$file"
  cp "$bin/$file" "$server/$file"
done
# The newer Spelmar is the same program with a release mark appended;
# the loader ignores bytes after the last section.
printf '\nSpelmar demo release 2.01.00\n' >> "$server/Spelmar"

printf 'Spelmar 2.00.00\r\n\r\nThe installed release.\r\n' > "$program/readme.txt"
printf 'Spelmar 2.01.00\r\n\r\nThe release from the update server.\r\n' > "$server/readme.txt"

# Revision files: name; revision[; SHA-256], CR LF lines. The publisher
# writes names and revisions; moravel-cli publish adds each file's SHA-256
# and signs the result.
{
  printf 'Spelmar; 2.00.00\r\n'
  printf 'libMoravel.so; 3.00.00\r\n'
  printf 'Quennet; 3.00.00\r\n'
  printf 'readme.txt; 2.00.00\r\n'
  printf 'moravel.pub; 1.00.00\r\n'
} > "$program/RelInfoLocal.rel"
{
  printf 'Spelmar; 2.01.00\r\n'
  printf 'libMoravel.so; 3.00.00\r\n'
  printf 'Quennet; 3.00.00\r\n'
  printf 'readme.txt; 2.01.00\r\n'
  printf 'moravel.pub; 1.00.00\r\n'
} > "$server/RelInfoRemote.rel"

cat > "$server/LatestUpdate.html" <<'HTML'
<html>
<head><title>Spelmar 2.01.00</title></head>
<body>
<h2>Spelmar 2.01.00</h2>
<p>Release notes of the latest update.</p>
<ul>
<li>Spelmar 2.01.00: the tracker program.</li>
<li>readme.txt 2.01.00: notes on this release.</li>
</ul>
<p>The update library and the installer stay at 3.00.00.</p>
<p>Press <b>Install new updates...</b> to install the newer files. Spelmar
ends, the installer keeps the replaced files in a backup folder named by
the date and time of the update, and offers to start Spelmar again.</p>
</body>
</html>
HTML

"$bin/moravel-cli" publish "$server" --key "$keys/demo.key" >/dev/null

# The reminder of Spelmar/Updates: on, a check at every start. The file
# holds nothing but the update library's reminder values.
cat > "$config/Norvane/AutoUpdate.conf" <<'INI'
[Software]
Norvane\AutoUpdate\Spelmar\Updates\Active=1
Norvane\AutoUpdate\Spelmar\Updates\Check=0
Norvane\AutoUpdate\Spelmar\Updates\Interval=5
INI
