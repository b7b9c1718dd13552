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
# The source package is fetched with apt-get from the deb-src counterparts of
# the Debian archive entries in this machine's own apt configuration. They
# are written to a private directory, with private package lists, so the
# system's apt configuration and lists stay untouched.
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

# --- private apt configuration with deb-src entries --------------------------
apt_dir=$work/apt
rm -rf "$apt_dir"
mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial"
: >"$apt_dir/sources.list"

# An entry belongs to the Debian archive when one of its URIs has a path
# component "debian", "debian-security" or "debian-ports" (mirrors, snapshots)
# or when it is signed with the Debian archive keyring.
debian_uri_re='^[a-z+]+://[^/]+(/[^[:space:]]*)?/debian(-security|-ports)?(/|$)'

# One-line format (sources.list, *.list): "deb [opts] URI suite comps" lines.
one_line_entries() {
  local file=$1 line uri
  while IFS= read -r line || [[ -n $line ]]; do
    [[ $line =~ ^[[:space:]]*deb[[:space:]]+(\[[^]]*\][[:space:]]+)?([^[:space:]]+) ]] || continue
    uri=${BASH_REMATCH[2]}
    if [[ $uri =~ $debian_uri_re || $line == *debian-archive-keyring* ]]; then
      printf '%s\n' "$(sed -E 's/^([[:space:]]*)deb([[:space:]])/\1deb-src\2/' <<<"$line")"
    fi
  done <"$file"
}

# deb822 format (*.sources): stanzas separated by blank lines; a stanza is kept
# when its Types include "deb", it is not "Enabled: no" and it is Debian's.
deb822_entries() {
  awk -v uri_re="$debian_uri_re" '
    function flush(   i, n, u, ok) {
      if (nlines == 0) return
      ok = has_deb && !disabled
      if (ok) {
        n = split(uris, u, /[ \t]+/)
        debian = keyring
        for (i = 1; i <= n; i++) if (u[i] ~ uri_re) debian = 1
        ok = debian
      }
      if (ok) {
        for (i = 1; i <= nlines; i++) print lines[i]
        print ""
      }
      nlines = 0; has_deb = 0; disabled = 0; keyring = 0; uris = ""
    }
    /^#/ { next }
    /^[ \t]*$/ { flush(); next }
    {
      field = tolower($0)
      if (field ~ /^types:/) {
        n = split(substr($0, index($0, ":") + 1), t, /[ \t]+/)
        for (i = 1; i <= n; i++) if (t[i] == "deb") has_deb = 1
        $0 = "Types: deb-src"
      } else if (field ~ /^enabled:[ \t]*no[ \t]*$/) {
        disabled = 1
      } else if (field ~ /^uris:/) {
        uris = uris " " substr($0, index($0, ":") + 1)
      } else if (field ~ /^signed-by:/ && field ~ /debian-archive-keyring/) {
        keyring = 1
      }
      lines[++nlines] = $0
    }
    END { flush() }
  ' "$1"
}

n=0
if [[ -f /etc/apt/sources.list ]]; then
  one_line_entries /etc/apt/sources.list >"$apt_dir/sources.list"
fi
shopt -s nullglob
# apt itself reads only *.list and *.sources here; other names are disabled.
for f in /etc/apt/sources.list.d/*.list; do
  one_line_entries "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
done
for f in /etc/apt/sources.list.d/*.sources; do
  deb822_entries "$f" >"$apt_dir/sources.list.d/$(basename "$f")"
done
shopt -u nullglob
for f in "$apt_dir/sources.list" "$apt_dir"/sources.list.d/*; do
  if grep -Eq '^[[:space:]]*(deb-src[[:space:]]|Types: deb-src)' "$f"; then
    n=$((n + 1))
  else
    rm -f "$f"
  fi
done
((n)) || die "no Debian archive entries found in /etc/apt/sources.list{,.d} to derive deb-src entries from"
[[ -f $apt_dir/sources.list ]] || : >"$apt_dir/sources.list"

apt_opts=(
  -o "Dir::Etc::SourceList=$apt_dir/sources.list"
  -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
  -o "Dir::State::Lists=$apt_dir/lists"
  -o "Dir::Cache::pkgcache=$apt_dir/pkgcache.bin"
  -o "Dir::Cache::srcpkgcache=$apt_dir/srcpkgcache.bin"
)

# --- fetch and unpack the source package -------------------------------------
src_dir=$work/source
mkdir -p "$src_dir"
dsc=$(compgen -G "$src_dir/${SOURCE_PACKAGE}_*.dsc" | head -n 1 || true)
if [[ -z $dsc ]]; then
  log "fetching the $SOURCE_PACKAGE source package"
  apt-get "${apt_opts[@]}" update -q
  (cd "$src_dir" && apt-get "${apt_opts[@]}" source --download-only -q "$SOURCE_PACKAGE")
  dsc=$(compgen -G "$src_dir/${SOURCE_PACKAGE}_*.dsc" | head -n 1 || true)
  [[ -n $dsc ]] || die "apt-get source did not leave a ${SOURCE_PACKAGE}_*.dsc in $src_dir"
fi

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
