#!/usr/bin/env bash
# Builds everything (the native programs and the Windows cross build) and runs
# the whole test suite; the Windows programs are tested under Wine from it.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
source scripts/packages.sh
ensure_packages "${native_packages[@]}" libgtest-dev libgmock-dev \
  g++-mingw-w64-x86-64 wine64 dpkg-dev lm-sensors libcpp-httplib-dev prometheus

scripts/build-jsoncpp-windows.sh
cmake --preset windows
cmake --build --preset windows -j "$(nproc)"

cmake --preset default
cmake --build --preset default -j "$(nproc)"
ctest --preset default
