#!/usr/bin/env bash
# Builds everything (the native programs, the Windows cross build, the
# sanitizer build and the fuzz target) and runs the whole test suite: the
# Windows programs are tested under Wine from the native suite, which also
# runs once more under the sanitizers, and the refresh is fuzzed for a minute.
# It also builds both release packages (cpack), which the native suite unpacks
# and runs.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$repo"
ensure_packages "${native_packages[@]}" libgtest-dev libgmock-dev \
  g++-mingw-w64-x86-64 libz-mingw-w64-dev wine64 dpkg-dev lm-sensors libmicrohttpd-dev prometheus \
  libbenchmark-dev clang libclang-rt-14-dev chromium chromium-driver python3-selenium \
  osslsigncode openssl clang-format mosquitto tmux
# npm installs the dashboard's charting library; a Node.js that brings its own
# npm needs no Debian package.
command -v npm >/dev/null || ensure_packages npm

scripts/build-jsoncpp-windows.sh
scripts/build-microhttpd-windows.sh
scripts/build-mosquitto-windows.sh
cmake --preset windows
cmake --build --preset windows -j "$(nproc)"
# The zip's programs are signed with a throwaway self-signed certificate, made
# afresh for each run, which the package test verifies them against.
signing=$repo/build/signing
mkdir -p "$signing"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=sensor-bridge test signing" \
  -addext extendedKeyUsage=codeSigning -keyout "$signing/key.pem" -out "$signing/certificate.pem" 2>/dev/null
openssl pkcs12 -export -in "$signing/certificate.pem" -inkey "$signing/key.pem" \
  -out "$signing/certificate.p12" -passout pass:throwaway
SENSOR_BRIDGE_SIGN_PKCS12="$signing/certificate.p12" SENSOR_BRIDGE_SIGN_PASSWORD=throwaway \
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
