#!/usr/bin/env bash
# Builds jsoncpp 1.9.5 for Windows x64 (mingw-w64 cross compiler) as a static
# library, from Debian's source package "libjsoncpp", and installs it with its
# CMake package files, so that find_package(jsoncpp CONFIG) finds it.
#
#   scripts/build-jsoncpp-windows.sh [PREFIX]
#
# PREFIX defaults to build/deps/jsoncpp-windows in the repository (the
# CMAKE_PREFIX_PATH of the "windows" preset). The sources are fetched and
# built in build/deps/jsoncpp-windows-work. Nothing is done if PREFIX already
# holds a finished install.
#
# The source package is fetched with apt-get by scripts/debian-source.sh,
# without touching the system's apt configuration or package lists.
#
# Runs as root on Debian 12: missing build tools (dpkg-dev, cmake, make,
# g++-mingw-w64-x86-64) are installed with apt-get.
set -euo pipefail

readonly JSONCPP_VERSION=1.9.5
readonly SOURCE_PACKAGE=libjsoncpp

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${1:-$repo/build/deps/jsoncpp-windows}
mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
work=${JSONCPP_WORK_DIR:-$repo/build/deps/jsoncpp-windows-work}
toolchain=$repo/cmake/toolchain-mingw-w64-x86_64.cmake
stamp=$prefix/.jsoncpp-windows-installed

log() { printf 'build-jsoncpp-windows: %s\n' "$*" >&2; }
die() { log "error: $*"; exit 1; }

installed() {
  [[ -f $stamp && $(cat "$stamp") == "$JSONCPP_VERSION" ]] || return 1
  [[ -f $prefix/lib/cmake/jsoncpp/jsoncppConfig.cmake ]] || return 1
  compgen -G "$prefix/lib/libjsoncpp*.a" >/dev/null
}

if installed; then
  log "jsoncpp $JSONCPP_VERSION already installed in $prefix"
  exit 0
fi

# --- build tools -------------------------------------------------------------
missing=()
command -v dpkg-source >/dev/null || missing+=(dpkg-dev)
command -v cmake >/dev/null || missing+=(cmake)
command -v make >/dev/null || missing+=(make)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64)
if ((${#missing[@]})); then
  [[ $(id -u) == 0 ]] || die "missing packages: ${missing[*]} (run as root or install them)"
  log "installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  if ! apt-get install -y -q --no-install-recommends "${missing[@]}"; then
    apt-get update -q
    apt-get install -y -q --no-install-recommends "${missing[@]}"
  fi
fi

# --- fetch and unpack the source package -------------------------------------
source "$repo/scripts/debian-source.sh"
fetch_debian_source "$SOURCE_PACKAGE" "$work"

version=$(sed -n 's/^Version:[[:space:]]*//p' "$dsc" | head -n 1)
upstream=${version#*:}
upstream=${upstream%-*}
if [[ $upstream != "$JSONCPP_VERSION" ]]; then
  die "$SOURCE_PACKAGE source package is version $version, not $JSONCPP_VERSION ($dsc)"
fi
log "using $SOURCE_PACKAGE $version"

tree=$work/jsoncpp-$version
rm -rf "$tree"
# apt already checked the files against the archive's signed index.
dpkg-source --no-check -x "$dsc" "$tree" >/dev/null

# --- build and install -------------------------------------------------------
build_dir=$work/build
rm -rf "$build_dir" "$prefix"
start=$SECONDS
cmake -S "$tree" -B "$build_dir" \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  -DCMAKE_INSTALL_LIBDIR=lib \
  -DBUILD_SHARED_LIBS=OFF \
  -DBUILD_STATIC_LIBS=ON \
  -DBUILD_OBJECT_LIBS=OFF \
  -DJSONCPP_WITH_TESTS=OFF \
  -DJSONCPP_WITH_POST_BUILD_UNITTEST=OFF \
  -DJSONCPP_WITH_EXAMPLE=OFF \
  -DJSONCPP_WITH_PKGCONFIG_SUPPORT=OFF \
  -DJSONCPP_WITH_CMAKE_PACKAGE=ON
cmake --build "$build_dir" --parallel "$(nproc)"
cmake --install "$build_dir"
log "built and installed in $((SECONDS - start)) s"

installed_ok=1
[[ -f $prefix/lib/cmake/jsoncpp/jsoncppConfig.cmake ]] || installed_ok=0
compgen -G "$prefix/lib/libjsoncpp*.a" >/dev/null || installed_ok=0
((installed_ok)) || die "the install in $prefix lacks lib/libjsoncpp*.a or lib/cmake/jsoncpp/jsoncppConfig.cmake"
printf '%s\n' "$JSONCPP_VERSION" >"$stamp"
log "jsoncpp $JSONCPP_VERSION installed in $prefix"
