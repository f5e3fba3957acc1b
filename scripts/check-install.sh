#!/usr/bin/env bash
# Installs a build into a temporary prefix and builds tests/consumer against it
# twice, through find_package(ktif) and through pkg-config, then runs both on
# an image written by ktif-sample. Usage: scripts/check-install.sh [BUILD_DIR]
# (default build/default, which must already be built).
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build/default}")
src=$PWD/tests/consumer
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

cmake --install "$build" --prefix "$tmp/prefix" >/dev/null
"$build/tools/ktif-sample" "$tmp/sample.tif" >/dev/null
# ktif-sample writes a 512 x 384 image.
expected="512 x 384"

pc=$(find "$tmp/prefix" -name ktif.pc | head -n1)
[ -n "$pc" ] || { echo "check-install: no ktif.pc installed" >&2; exit 1; }
pcdir=$(dirname "$pc")
libdir=$(dirname "$pcdir")
# The installed libraries carry no run path; a host installing elsewhere than
# the loader's directories does the same.
export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

check() {
  local road=$1 got
  got=$("${@:2}")
  if [ "$got" != "$expected" ]; then
    echo "check-install: $road consumer printed '$got', expected '$expected'" >&2
    exit 1
  fi
  echo "check-install: $road consumer OK ($got)"
}

# CMake package.
cmake -S "$src" -B "$tmp/cmake" -G Ninja -DCMAKE_PREFIX_PATH="$tmp/prefix" >/dev/null
cmake --build "$tmp/cmake" >/dev/null
check find_package "$tmp/cmake/ktif-consumer" "$tmp/sample.tif"
got=$("$tmp/cmake/ktif-geokeys-consumer" 2>/dev/null)
[ "$got" = "meters caught" ] || { echo "check-install: C++ consumer printed '$got'" >&2; exit 1; }
echo "check-install: C++ consumer OK ($got)"

# pkg-config.
export PKG_CONFIG_PATH="$pcdir"
cc -std=c99 -Wall -Wextra -Werror $(pkg-config --cflags ktif kraster) "$src/main.c" \
  -o "$tmp/pc-consumer" $(pkg-config --libs ktif kraster)
check pkg-config "$tmp/pc-consumer" "$tmp/sample.tif"
