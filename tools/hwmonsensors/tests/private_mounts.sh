#!/usr/bin/env bash
# Gives the command that follows a machine of its own as far as the fake-tree
# tests need one: an empty hardware-monitoring class for them to fill, an empty
# libsensors configuration, and a shared-memory directory that no other test
# sees. Run as root under `unshare -mn`, so that none of it reaches the
# machine's own mounts; the private network namespace keeps the program's
# single-instance guard, an abstract socket, private too.
# Exits 77 when the mounts cannot be made.
set -euo pipefail
if [[ $# -eq 0 ]]; then
  echo "usage: unshare -mn $0 COMMAND [ARGUMENT...]" >&2
  exit 2
fi
cannot() {
  echo "private_mounts: $*" >&2
  exit 77
}

mount --make-rprivate / || cannot "the mounts cannot be made private"
mount -t tmpfs test-shm /dev/shm || cannot "no private /dev/shm"
if [[ -d /sys/class/hwmon ]]; then
  mount -t tmpfs test-hwmon /sys/class/hwmon || cannot "no private /sys/class/hwmon"
else
  # A machine without hardware monitoring has no directory to mount on, and
  # sysfs takes no new ones: the whole class directory is replaced instead.
  mount -t tmpfs test-class /sys/class || cannot "no private /sys/class"
  mkdir /sys/class/hwmon
fi

# libsensors reads /etc/sensors3.conf and then /etc/sensors.d; the tests write
# their own configuration into the second.
if [[ ! -f /etc/sensors3.conf || ! -d /etc/sensors.d ]]; then
  echo "private_mounts: libsensors' configuration is not installed (Debian: libsensors-config)" >&2
  exit 1
fi
empty=$(mktemp)
mount --bind "$empty" /etc/sensors3.conf || cannot "cannot replace /etc/sensors3.conf"
rm -f "$empty"
mount -t tmpfs test-sensors-d /etc/sensors.d || cannot "no private /etc/sensors.d"

exec "$@"
