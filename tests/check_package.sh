#!/usr/bin/env bash
# Builds the release archive with scripts/package and checks it the way a user would:
# unpacked, every file is there and SHA256SUMS verifies.
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
archive=$("$root/scripts/package" | tail -n 1)
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
unzip -q "$root/$archive" -d "$unpacked"
cd "$unpacked"/Vorlu-*
for file in gen_vorlu.dll gen_vorlu.dll.debug README.md LICENSE SHA256SUMS; do
  [ -f "$file" ] || { echo "the archive lacks $file"; exit 1; }
done
ls ./*-setup.exe >/dev/null
sha256sum -c SHA256SUMS
