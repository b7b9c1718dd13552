# Fetches a Debian source package with apt-get, from the deb-src counterparts
# of the Debian archive entries in this machine's own apt configuration. They
# are written to a private directory, with private package lists, so the
# system's apt configuration and lists stay untouched. Sourced by the scripts
# that cross-build libraries for Windows, which define log and die:
#
#   fetch_debian_source PACKAGE WORK_DIR
#
# leaves the package's files in WORK_DIR/source (fetched once) and sets dsc to
# the path of its .dsc file.

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
  (cd "$src_dir" && apt-get "${apt_opts[@]}" source --download-only -q "$package")
  dsc=$(compgen -G "$src_dir/${package}_*.dsc" | head -n 1 || true)
  [[ -n $dsc ]] || die "apt-get source did not leave a ${package}_*.dsc in $src_dir"
}
