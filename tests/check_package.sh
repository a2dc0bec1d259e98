#!/usr/bin/env bash
# Builds the release archive with scripts/package twice, from two copies of the sources in
# folders of different names, as anyone who rebuilds a release does, and checks it: the
# two archives alike, file by file, byte for byte; unpacked, every file there and
# SHA256SUMS verifying. The copies hold what git tracks, changes not yet committed included.
set -euo pipefail
root=$(cd "${1:-$(dirname "$0")/..}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sources=$(git -C "$root" stash create)
for copy in first another/copy-of-the-sources; do
  mkdir -p "$work/$copy" "$work/$copy.unpacked"
  git -C "$root" archive "${sources:-HEAD}" | tar -x -C "$work/$copy"
  archive=$("$work/$copy/scripts/package" | tail -n 1)
  cp "$work/$copy/$archive" "$work/$copy.zip"
  unzip -q "$work/$copy.zip" -d "$work/$copy.unpacked"
done
if ! diff -r "$work/first.unpacked" "$work/another/copy-of-the-sources.unpacked"; then
  echo "the same sources built in two folders gave different files"; exit 1
fi
cmp "$work/first.zip" "$work/another/copy-of-the-sources.zip"

cd "$work"/first.unpacked/Vorlu-*
for file in gen_vorlu.dll gen_vorlu.dll.debug README.md LICENSE SHA256SUMS; do
  [ -f "$file" ] || { echo "the archive lacks $file"; exit 1; }
done
ls ./*-setup.exe >/dev/null
sha256sum -c SHA256SUMS
