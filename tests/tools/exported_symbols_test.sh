#!/usr/bin/env bash
# libktif.so exports only the ktif_* and kgtf_* families and the GeoKey
# directory class; everything else stays hidden.
set -u
lib=$1
symbols=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVWiu]$/ {print $3}')
stray=$(printf '%s\n' "$symbols" | grep -vE '^(ktif_|kgtf_)|KgtfGeoKeyDirectoryTag|^_(init|fini)$|^(_edata|_end|__bss_start)$' | grep -v '^$')
count=$(printf '%s\n' "$symbols" | grep -cE '^(ktif_|kgtf_)')
if [ -n "$stray" ]; then
  echo "symbols outside the exported families:"; printf '%s\n' "$stray"
  echo "0 passed, 1 failed"; exit 1
fi
if [ "$count" -eq 0 ]; then echo "no exported function found"; echo "0 passed, 1 failed"; exit 1; fi
echo "$count exported functions, nothing else"
echo "1 passed, 0 failed"
