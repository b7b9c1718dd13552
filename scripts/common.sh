# shellcheck shell=bash
# Shared by the scripts in scripts/, which source it first:
#
#   source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
#
# It sets repo to the repository's root and gives them logging, the Debian
# packages they need, Debian source packages, and the cross build of a
# library for Windows.

repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
script_name=$(basename "${BASH_SOURCE[1]:-$0}" .sh)

# Messages go to stderr, prefixed with the calling script's name.
log() { printf '%s: %s\n' "$script_name" "$*" >&2; }
die() {
  log "error: $*"
  exit 1
}

# --- Debian packages ----------------------------------------------------------
# Installs the Debian packages that are missing, and only those, after
# updating the package lists: ensure_packages NAME...
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  ((${#missing[@]})) || return 0
  local sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  log "installing ${missing[*]}"
  "${sudo[@]}" apt-get update -q >&2
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}" >&2
}

# What building the native programs needs.
native_packages=(cmake g++ make pkg-config libjsoncpp-dev libsensors-dev libcli11-dev zlib1g-dev libmosquitto-dev)

# --- Debian source packages ---------------------------------------------------
# fetch_debian_source PACKAGE WORK_DIR fetches a source package with apt-get,
# from the deb-src counterparts of the Debian archive entries in this
# machine's own apt configuration. They are written to a private directory,
# with private package lists, so the system's apt configuration and lists
# stay untouched. It leaves the package's files in WORK_DIR/source (fetched
# once) and sets dsc to the path of its .dsc file.

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

fetch_debian_source() {
  local package=$1 work=$2
  local src_dir=$work/source
  dsc=$(compgen -G "$src_dir/${package}_*.dsc" | head -n 1 || true)
  [[ -z $dsc ]] || return 0

  local apt_dir=$work/apt
  rm -rf "$apt_dir"
  mkdir -p "$apt_dir/sources.list.d" "$apt_dir/lists/partial"
  : >"$apt_dir/sources.list"

  local n=0 f
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

  local apt_opts=(
    -o "Dir::Etc::SourceList=$apt_dir/sources.list"
    -o "Dir::Etc::SourceParts=$apt_dir/sources.list.d"
    -o "Dir::State::Lists=$apt_dir/lists"
    -o "Dir::Cache::pkgcache=$apt_dir/pkgcache.bin"
    -o "Dir::Cache::srcpkgcache=$apt_dir/srcpkgcache.bin"
  )

  log "fetching the $package source package"
  mkdir -p "$src_dir"
  apt-get "${apt_opts[@]}" update -q
  # A mirror may list a version whose files it does not have yet (a fresh
  # security update); then the older versions it lists are tried, newest first.
  local version
  if ! (cd "$src_dir" && apt-get "${apt_opts[@]}" source --download-only -q "$package"); then
    for version in $(apt-cache "${apt_opts[@]}" showsrc "$package" | sed -n 's/^Version: //p' | sort -rV); do
      log "trying $package $version"
      rm -f "$src_dir"/*
      (cd "$src_dir" && apt-get "${apt_opts[@]}" source --download-only -q "$package=$version") && break
    done
  fi
  dsc=$(compgen -G "$src_dir/${package}_*.dsc" | head -n 1 || true)
  [[ -n $dsc ]] || die "apt-get source did not leave a ${package}_*.dsc in $src_dir"
}

# --- Libraries cross-built for Windows -----------------------------------------
# The mingw-w64 compilers' host triplet, and the CMake toolchain file for them.
readonly windows_host=x86_64-w64-mingw32
readonly windows_toolchain=$repo/cmake/toolchain-mingw-w64-x86_64.cmake

# Builds a static library for Windows x64 with the mingw-w64 cross compilers
# from Debian's source package and installs it in PREFIX, by default
# build/deps/NAME-windows (the "windows" preset's CMAKE_PREFIX_PATH). The
# sources are fetched and built in build/deps/NAME-windows-work, or in
# $NAME_WORK_DIR (NAME in capitals). Nothing is done when PREFIX already holds
# a finished install: every one of the FILES (globs under PREFIX), and the
# stamp PREFIX/.NAME-windows-installed holding a version that VERSION_CHECK
# accepts.
#
#   build_windows_library NAME SOURCE_PACKAGE VERSION_CHECK BUILD PREFIX FILE...
#
# VERSION_CHECK DEBIAN_VERSION prints the version to write into the stamp, or
# fails when the script does not build that version. BUILD TREE PREFIX WORK
# builds the unpacked sources in TREE and installs them in PREFIX.
build_windows_library() {
  local name=$1 package=$2 version_check=$3 build=$4 prefix=${5:-$repo/build/deps/$1-windows}
  shift 5
  local work_variable=${name^^}_WORK_DIR
  local work=${!work_variable:-$repo/build/deps/$name-windows-work}
  mkdir -p "$(dirname "$prefix")"
  prefix=$(cd "$(dirname "$prefix")" && pwd)/$(basename "$prefix")
  local stamp=$prefix/.$name-windows-installed
  if [[ -f $stamp ]] && "$version_check" "$(cat "$stamp")" >/dev/null && installed_files "$prefix" "$@"; then
    log "$name $(cat "$stamp") already installed in $prefix"
    return 0
  fi

  ensure_packages dpkg-dev cmake make g++-mingw-w64-x86-64
  fetch_debian_source "$package" "$work"
  local debian_version version
  debian_version=$(sed -n 's/^Version:[[:space:]]*//p' "$dsc" | head -n 1)
  version=$("$version_check" "$debian_version") ||
    die "$package source package is version $debian_version, which this script does not build ($dsc)"
  log "using $package $debian_version"
  local tree=$work/$package-$debian_version
  rm -rf "$tree" "$prefix"
  # apt already checked the files against the archive's signed index.
  dpkg-source --no-check -x "$dsc" "$tree" >/dev/null

  local start=$SECONDS
  ("$build" "$tree" "$prefix" "$work")
  installed_files "$prefix" "$@" || die "the install in $prefix lacks one of: $*"
  log "built and installed in $((SECONDS - start)) s"
  printf '%s\n' "$version" >"$stamp"
  log "$name $version installed in $prefix"
}

# Whether every one of the globs matches a file under the prefix: installed_files PREFIX GLOB...
installed_files() {
  local prefix=$1 pattern
  shift
  for pattern in "$@"; do
    compgen -G "$prefix/$pattern" >/dev/null || return 1
  done
}
