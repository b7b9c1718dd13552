#!/usr/bin/env bash
# Builds OpenSSL's two libraries for Windows x64 (mingw-w64 cross compiler),
# static only, from Debian's source package "openssl", for the TLS of
# sensor-watch's --mqtt in the Windows build (libmosquitto links them; see
# scripts/build-mosquitto-windows.sh, which runs this first).
#
#   scripts/build-openssl-windows.sh [PREFIX]
#
# PREFIX defaults to build/deps/openssl-windows (see build_windows_library
# in scripts/common.sh; OPENSSL_WORK_DIR names another working directory).
# Only the libraries are built, without tests, programs and manuals: about
# two and a half minutes of processor time.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# The configuration below is OpenSSL 3's.
openssl_version() { [[ $1 == 3.* ]] && printf '%s\n' "$1"; }

build_openssl() {
  local tree=$1 prefix=$2
  cd "$tree"
  perl Configure mingw64 no-shared no-tests --cross-compile-prefix="$windows_host-" \
    --prefix="$prefix" --libdir=lib >/dev/null
  make -j "$(nproc)" build_libs >/dev/null
  make install_dev >/dev/null
}

build_windows_library openssl openssl openssl_version build_openssl "${1:-}" \
  lib/libssl.a lib/libcrypto.a include/openssl/ssl.h
