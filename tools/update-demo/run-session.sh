#!/usr/bin/env bash
# run-session.sh FOLDER
#
# Runs FOLDER/Spelmar with FOLDER as its current directory, as an installed
# program runs, and returns only when no program of FOLDER runs any more:
# an update hands over from Spelmar to Quennet, and Quennet to the restarted
# Spelmar, so the session lasts until the last of them has ended.
set -euo pipefail

folder=$(cd "$1" && pwd -P)
cd "$folder"
./Spelmar || true

running() {
  local exe target
  for exe in /proc/[0-9]*/exe; do
    target=$(readlink "$exe" 2>/dev/null) || continue
    case $target in
      "$folder/Spelmar" | "$folder/Quennet") return 0 ;;
    esac
  done
  return 1
}
# A hand-over can fall between two looks (one program gone, the next one
# not yet listed), so the session ends only after two quiet looks in a row.
quiet=0
while [ "$quiet" -lt 2 ]; do
  if running; then quiet=0; else quiet=$((quiet + 1)); fi
  sleep 1
done
