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
while running; do
  sleep 1
done
