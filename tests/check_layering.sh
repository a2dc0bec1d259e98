#!/usr/bin/env bash
# Includes run one way through the plug-in's folders: plugin -> stamping -> trackinfo -> host.
# A file may include its own folder and any folder below it, never one above; within a
# folder no two sources include each other.
set -euo pipefail
cd "${1:-$(dirname "$0")/..}"
rank() { case "$1" in plugin) echo 3 ;; stamping) echo 2 ;; trackinfo) echo 1 ;; host) echo 0 ;; *) echo -1 ;; esac; }
fail=0
for folder in plugin stamping trackinfo host; do
  own=$(rank "$folder")
  while IFS=: read -r file _ include; do
    target=$(sed -E 's/.*#include "([a-z]+)\/.*/\1/' <<<"$include")
    if [ "$(rank "$target")" -gt "$own" ]; then
      echo "$file includes $target/, a folder above $folder/"; fail=1
    fi
  done < <(grep -Hn '#include "[a-z]*/' "$folder"/* || true)
done
# Within a folder, no two sources include each other's header: each part has one direction.
for folder in plugin stamping trackinfo host; do
  for source in "$folder"/*.cpp; do
    own=$(basename "$source" .cpp)
    for header in $(sed -nE "s|#include \"$folder/([a-z_]+)\.h\"|\1|p" "$source"); do
      [ "$header" = "$own" ] && continue
      if [ -f "$folder/$header.cpp" ] && grep -q "#include \"$folder/$own.h\"" "$folder/$header.cpp"; then
        echo "$folder/$own.cpp and $folder/$header.cpp include each other"; fail=1
      fi
    done
  done
done
# The journal's format is plain C++, built alone by its fuzzer: no Windows header of its
# own, nothing else of stamping/ (the store included). The fuzzer links none of the system's
# calls, so one used there fails its build.
for file in stamping/journal_format.h stamping/journal_format.cpp; do
  while IFS= read -r include; do
    echo "$file: $include: the journal's format includes Windows or another part of stamping/"; fail=1
  done < <(grep -E '#include (<(windows|process)\.h>|"stamping/)' "$file" | grep -v '"stamping/journal_format\.h"' || true)
done
[ $fail = 0 ] && echo "includes run one way: plugin -> stamping -> trackinfo -> host, no two sources include each other," \
  "and the journal's format includes no Windows header"
exit $fail
