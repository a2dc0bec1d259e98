#!/usr/bin/env bash
# Makes COUNT Wine prefixes in FOLDER/1 .. FOLDER/COUNT, each a copy of the prefix
# scripts/wine-prefix made, one for each Wine test that runs at once (CTest hands each
# test one, see wine_sessions.json). Named objects live in a prefix's Windows session: the
# stand-in's debug-output buffer and its events among them, which a player killed at the
# wrong moment leaves waiting, ten seconds a line for every player in that session. A copy
# made anew each run also drops what an earlier run left in a prefix's registry.
set -euo pipefail
folder=$1
count=$2
base=${WINEPREFIX:-$HOME/.wine}
if [ ! -f "$base/system.reg" ]; then
  echo "no Wine prefix in $base: scripts/wine-prefix makes it" >&2
  exit 1
fi
mkdir -p "$folder"
for i in $(seq 1 "$count"); do
  rm -rf "${folder:?}/$i"
  cp -a "$base" "$folder/$i"
done
echo "$count Wine prefixes in $folder"
