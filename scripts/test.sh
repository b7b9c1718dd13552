#!/usr/bin/env bash
# Builds everything (the native programs, the Windows cross build, the
# sanitizer build and the fuzz target) and runs the whole test suite: the
# Windows programs are tested under Wine from the native suite, which also
# runs once more under the sanitizers, and the refresh is fuzzed for a minute.
# It also builds both release packages (cpack), which the native suite unpacks
# and runs.
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
source scripts/packages.sh
ensure_packages "${native_packages[@]}" libgtest-dev libgmock-dev \
  g++-mingw-w64-x86-64 wine64 dpkg-dev lm-sensors libmicrohttpd-dev prometheus \
  libbenchmark-dev clang libclang-rt-14-dev chromium chromium-driver python3-selenium
# npm installs the dashboard's charting library; a Node.js that brings its own
# npm needs no Debian package.
command -v npm >/dev/null || ensure_packages npm

scripts/build-jsoncpp-windows.sh
scripts/build-microhttpd-windows.sh
cmake --preset windows
cmake --build --preset windows -j "$(nproc)"
cpack --preset windows

# The whole native suite under AddressSanitizer and UndefinedBehaviorSanitizer.
cmake --preset asan
cmake --build --preset asan -j "$(nproc)"
ctest --preset asan

# A minute of fuzzing the refresh; any finding fails the run.
scripts/fuzz.sh 60

cmake --preset default
cmake --build --preset default -j "$(nproc)"
cpack --preset default
ctest --preset default
