# Installs the Debian packages that are missing, and only those. Sourced by
# the other scripts: ensure_packages NAME...
ensure_packages() {
  local missing=() package
  for package in "$@"; do
    dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' ||
      missing+=("$package")
  done
  [[ ${#missing[@]} -eq 0 ]] && return 0
  local sudo=()
  [[ $(id -u) -eq 0 ]] || sudo=(sudo)
  echo "Installing ${missing[*]}" >&2
  "${sudo[@]}" apt-get update -q >&2
  DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -q "${missing[@]}" >&2
}

# What building the native programs needs.
native_packages=(cmake g++ make pkg-config libjsoncpp-dev libsensors-dev libcli11-dev zlib1g-dev)
