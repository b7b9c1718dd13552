#!/usr/bin/env bash
# Builds libmicrohttpd for Windows x64 (mingw-w64 cross compiler) as a static
# library without TLS, from Debian's source package "libmicrohttpd", for
# sensor-watch's --serve in the Windows build.
#
#   scripts/build-microhttpd-windows.sh [PREFIX]
#
# PREFIX defaults to build/deps/microhttpd-windows in the repository (on the
# CMAKE_PREFIX_PATH of the "windows" preset). The sources are fetched and
# built in build/deps/microhttpd-windows-work. Nothing is done if PREFIX
# already holds a finished install.
#
# The source package is fetched with apt-get by scripts/debian-source.sh,
# without touching the system's apt configuration or package lists.
set -euo pipefail

readonly SOURCE_PACKAGE=libmicrohttpd
readonly HOST=x86_64-w64-mingw32

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix=${1:-$repo/build/deps/microhttpd-windows}
mkdir -p "$(dirname "$prefix")"
prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
work=${MICROHTTPD_WORK_DIR:-$repo/build/deps/microhttpd-windows-work}
stamp=$prefix/.microhttpd-windows-installed

log() { printf 'build-microhttpd-windows: %s\n' "$*" >&2; }
die() { log "error: $*"; exit 1; }

if [[ -f $stamp && -f $prefix/lib/libmicrohttpd.a && -f $prefix/include/microhttpd.h ]]; then
  log "libmicrohttpd $(cat "$stamp") already installed in $prefix"
  exit 0
fi

source "$repo/scripts/packages.sh"
ensure_packages dpkg-dev make g++-mingw-w64-x86-64

source "$repo/scripts/debian-source.sh"
fetch_debian_source "$SOURCE_PACKAGE" "$work"
version=$(sed -n 's/^Version:[[:space:]]*//p' "$dsc" | head -n 1)
log "using $SOURCE_PACKAGE $version"

tree=$work/libmicrohttpd-$version
rm -rf "$tree"
# apt already checked the files against the archive's signed index.
dpkg-source --no-check -x "$dsc" "$tree" >/dev/null

rm -rf "$prefix"
start=$SECONDS
(
  cd "$tree"
  ./configure -q --host="$HOST" --prefix="$prefix" --enable-static --disable-shared \
    --disable-https --disable-doc --disable-examples --disable-curl
  make -j "$(nproc)" -C src/microhttpd
  make -C src/microhttpd install
  make -C src/include install
)
[[ -f $prefix/lib/libmicrohttpd.a && -f $prefix/include/microhttpd.h ]] ||
  die "the install in $prefix lacks lib/libmicrohttpd.a or include/microhttpd.h"
log "built and installed in $((SECONDS - start)) s"
printf '%s\n' "$version" >"$stamp"
log "libmicrohttpd $version installed in $prefix"
