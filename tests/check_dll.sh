#!/usr/bin/env bash
# Checks the shipped library's PE tables: exactly the one undecorated export, imports
# from system DLLs only, a version resource that names the product, and no debug
# information of its own, and no build time.
set -euo pipefail
dll=$1
objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
headers=$(TZ=UTC "$objdump" -p "$dll")  # the build time, if any, read in UTC
fail=0

grep -q '^architecture: i386' <<<"$("$objdump" -f "$dll")" || { echo "not a 32-bit x86 image"; fail=1; }

exports=$(awk '/\[Ordinal\/Name Pointer\] Table/{on=1; next} on && /^[ \t]*\[/{print $NF; next} on{on=0}' <<<"$headers")
if [ "$exports" != "winampGetGeneralPurposePlugin" ]; then
  echo "export table: expected exactly winampGetGeneralPurposePlugin, found: $exports"; fail=1
fi

imports=$(awk '/DLL Name:/{print toupper($3)}' <<<"$headers" | sort -u)
for name in $imports; do
  case "$name" in
    KERNEL32.DLL|USER32.DLL|MSVCRT.DLL) ;;
    *) echo "imports from a non-system DLL: $name"; fail=1 ;;
  esac
done

# The version resource holds its texts in UTF-16.
resource_texts=$(strings -n 3 -el "$dll")
for text in "ProductName" "Vorlu" "FileDescription" "Vorlu v1.0 (gen_vorlu.dll)" "ProductVersion" "1.0"; do
  if ! grep -qxF "$text" <<<"$resource_texts"; then
    echo "version resource lacks \"$text\""; fail=1
  fi
done

# Reproducible: no build time in the image, so the same sources give the same bytes.
if ! grep -q $'^Time/Date[ \t]*Thu Jan  1 00:00:00 1970' <<<"$headers"; then
  echo "the image carries a build time: $(grep '^Time/Date' <<<"$headers")"; fail=1
fi

# Shipped stripped: the debug information lives in gen_vorlu.dll.debug, named by a debug link.
sections=$("$objdump" -h "$dll" | awk '{print $2}')
if grep -q '^\.debug' <<<"$sections"; then echo "the shipped library carries debug sections"; fail=1; fi
if ! grep -qx '.gnu_debuglink' <<<"$sections"; then echo "no debug link to gen_vorlu.dll.debug"; fail=1; fi

[ $fail = 0 ] && echo "gen_vorlu.dll: export $exports; imports $(echo $imports)"
exit $fail
