#!/usr/bin/env bash
# Builds libmosquitto, the MQTT client library, for Windows x64 (mingw-w64
# cross compiler) as a static library with TLS and without its threads, from
# Debian's source package "mosquitto", for sensor-watch's --mqtt in the
# Windows build. TLS is OpenSSL's, built first by
# scripts/build-openssl-windows.sh into build/deps/openssl-windows.
# sensor-watch drives the client with mosquitto_loop() from a thread of its
# own, so the library's threading (which on Windows wants pthreads-win32, and
# gives mosquitto_loop_start) is left out.
#
#   scripts/build-mosquitto-windows.sh [PREFIX]
#
# PREFIX defaults to build/deps/mosquitto-windows (see build_windows_library
# in scripts/common.sh; MOSQUITTO_WORK_DIR names another working directory).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

readonly openssl_prefix=$repo/build/deps/openssl-windows
"$repo/scripts/build-openssl-windows.sh" "$openssl_prefix"

# Any version Debian ships is built, and recorded whole.
mosquitto_version() { printf '%s\n' "$1"; }

# Only the static client library: not the broker, the clients, the plugins,
# the C++ wrapper or the shared library.
build_mosquitto() {
  local tree=$1 prefix=$2
  cmake -S "$tree" -B "$tree/build" -DCMAKE_TOOLCHAIN_FILE="$windows_toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_PREFIX_PATH="$openssl_prefix" -DOPENSSL_USE_STATIC_LIBS=ON -DWITH_TLS=ON \
    -DWITH_STATIC_LIBRARIES=ON -DWITH_THREADING=OFF -DWITH_SOCKS=OFF -DWITH_CJSON=OFF \
    -DWITH_BROKER=OFF -DWITH_CLIENTS=OFF -DWITH_APPS=OFF -DWITH_PLUGINS=OFF -DWITH_LIB_CPP=OFF \
    -DDOCUMENTATION=OFF >/dev/null
  cmake --build "$tree/build" --target libmosquitto_static -j "$(nproc)" >/dev/null
  install -D -m 644 "$tree/build/lib/libmosquitto_static.a" "$prefix/lib/libmosquitto_static.a"
  install -D -m 644 -t "$prefix/include" "$tree/include/mosquitto.h" "$tree/include/mqtt_protocol.h"
}

build_windows_library mosquitto mosquitto mosquitto_version build_mosquitto "${1:-}" \
  lib/libmosquitto_static.a include/mosquitto.h
