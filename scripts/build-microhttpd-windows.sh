#!/usr/bin/env bash
# Builds libmicrohttpd for Windows x64 (mingw-w64 cross compiler) as a static
# library without TLS, from Debian's source package "libmicrohttpd", for
# sensor-watch's --serve in the Windows build.
#
#   scripts/build-microhttpd-windows.sh [PREFIX]
#
# PREFIX defaults to build/deps/microhttpd-windows (see build_windows_library
# in scripts/common.sh; MICROHTTPD_WORK_DIR names another working directory).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Any version Debian ships is built, and recorded whole.
microhttpd_version() { printf '%s\n' "$1"; }

build_microhttpd() {
  local tree=$1 prefix=$2
  cd "$tree"
  ./configure -q --host="$windows_host" --prefix="$prefix" --enable-static --disable-shared \
    --disable-https --disable-doc --disable-examples --disable-curl
  make -j "$(nproc)" -C src/microhttpd
  make -C src/microhttpd install
  make -C src/include install
}

build_windows_library microhttpd libmicrohttpd microhttpd_version build_microhttpd "${1:-}" \
  lib/libmicrohttpd.a include/microhttpd.h
