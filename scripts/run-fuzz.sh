#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz-preset build for SECONDS each, seeded
# with fuzz/corpus/<target without "fuzz_">/ (every file under it). The seeds
# are copied first, so new units stay out of the repository. Any crash, leak,
# sanitizer report or timeout fails the run; its input is kept in
# BUILD_DIR/fuzz-artifacts/. Usage: scripts/run-fuzz.sh [BUILD_DIR] [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/fuzz}")
seconds=${2:-60}
artifacts=$build/fuzz-artifacts
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$artifacts"
# Undefined behaviour stops the run like a memory error does.
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
export ASAN_OPTIONS=detect_leaks=1

shopt -s nullglob
targets=("$build"/fuzz/fuzz_*)
[ ${#targets[@]} -gt 0 ] || { echo "run-fuzz: no fuzz targets in $build/fuzz" >&2; exit 1; }
for bin in "${targets[@]}"; do
  [ -x "$bin" ] && [ -f "$bin" ] || continue
  target=$(basename "$bin")
  seeds=fuzz/corpus/${target#fuzz_}
  corpus=$tmp/$target
  mkdir -p "$corpus"
  if [ -d "$seeds" ]; then cp -r "$seeds"/. "$corpus"/; fi
  echo "run-fuzz: $target for ${seconds}s on $(find "$corpus" -type f | wc -l) seeds from $seeds"
  log=$tmp/$target.log
  if ! "$bin" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts/$target-" "$corpus" >"$log" 2>&1; then
    tail -n 80 "$log" >&2
    echo "run-fuzz: $target FAILED; the input is in $artifacts" >&2
    exit 1
  fi
  grep -E '^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)' \
    "$log" | sed "s/^/  /"
done
