#!/usr/bin/env bash
# Installs every Debian 12 package the build, the tests and the tools need.
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then SUDO=sudo; else SUDO=; fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends \
  build-essential cmake ninja-build pkg-config clang-format clang libclang-rt-14-dev \
  libtiff-dev libtiff-tools libgeotiff-dev geotiff-bin libproj-dev proj-data proj-bin \
  nlohmann-json3-dev libcli11-dev libgtest-dev libgmock-dev libbenchmark-dev \
  gdal-bin python3-gdal python3-numpy >/dev/null
