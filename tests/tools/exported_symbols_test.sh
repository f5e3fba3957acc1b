#!/usr/bin/env bash
# Each shared library exports only its documented interface: the C functions
# of its package prefixes and its documented classes; everything else (the
# call frame, internal helpers, standard-library template instances) is hidden.
# Usage: exported_symbols_test.sh LIB ALLOWED_REGEX [LIB ALLOWED_REGEX ...]
set -u
failed=0
while [ $# -ge 2 ]; do
  lib=$1 allowed=$2; shift 2
  symbols=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVWiu]$/ {print $3}' | c++filt)
  stray=$(printf '%s\n' "$symbols" | grep -vE "$allowed" | grep -vE '^(_init|_fini|_edata|_end|__bss_start)$' | grep -v '^$')
  count=$(printf '%s\n' "$symbols" | grep -cE "$allowed")
  if [ -n "$stray" ]; then
    echo "$(basename "$lib"): symbols outside its interface:"; printf '  %s\n' "$stray"; failed=1
  elif [ "$count" -eq 0 ]; then
    echo "$(basename "$lib"): nothing exported"; failed=1
  else
    echo "$(basename "$lib"): $count symbols, all documented"
  fi
done
[ $failed -eq 0 ] && echo "1 passed, 0 failed" || echo "0 passed, 1 failed"
exit $failed
