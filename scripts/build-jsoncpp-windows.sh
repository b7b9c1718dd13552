#!/usr/bin/env bash
# Builds jsoncpp 1.9.5 for Windows x64 (mingw-w64 cross compiler) as a static
# library, from Debian's source package "libjsoncpp", and installs it with its
# CMake package files, so that find_package(jsoncpp CONFIG) finds it.
#
#   scripts/build-jsoncpp-windows.sh [PREFIX]
#
# PREFIX defaults to build/deps/jsoncpp-windows (see build_windows_library in
# scripts/common.sh; JSONCPP_WORK_DIR names another working directory).
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

# Only 1.9.5 is built: prints the upstream part of the Debian version.
jsoncpp_version() {
  local upstream=${1#*:}
  upstream=${upstream%-*}
  [[ $upstream == 1.9.5 ]] && printf '%s\n' "$upstream"
}

build_jsoncpp() {
  local tree=$1 prefix=$2 work=$3
  rm -rf "$work/build"
  cmake -S "$tree" -B "$work/build" -DCMAKE_TOOLCHAIN_FILE="$windows_toolchain" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DCMAKE_INSTALL_LIBDIR=lib \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_OBJECT_LIBS=OFF \
    -DJSONCPP_WITH_TESTS=OFF -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF -DJSONCPP_WITH_EXAMPLE=OFF \
    -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF -DJSONCPP_WITH_CMAKE_PACKAGE=ON
  cmake --build "$work/build" --parallel "$(nproc)"
  cmake --install "$work/build"
}

build_windows_library jsoncpp libjsoncpp jsoncpp_version build_jsoncpp "${1:-}" \
  'lib/libjsoncpp*.a' lib/cmake/jsoncpp/jsoncppConfig.cmake
