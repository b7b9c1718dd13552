#!/usr/bin/env bash
# Chooses the sensor library for a run of sensor-bridge: the libsensors-backed
# one (bin/hwmon) when the machine has hardware-monitoring devices with
# inputs, the simulated one (bin) otherwise. The program loads the library
# beside its own executable, so for the former it copies the program into
# bin/hwmon. Prints the path of the program to start, and says on stderr which
# library it chose and why.
#
# Usage: scripts/choose-library.sh BIN_DIR
# SENSOR_LIBRARY=simulated or SENSOR_LIBRARY=hwmon forces the choice.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
bin=${1:?usage: choose-library.sh BIN_DIR}

# Drivers put their inputs in the hwmon directory or, on older kernels, in the
# device directory it links to.
hardware_inputs() {
  local input
  for input in /sys/class/hwmon/*/*_input /sys/class/hwmon/*/device/*_input; do
    [[ -e $input ]] && return 0
  done
  return 1
}

use_hwmon() {
  cp -f "$bin/sensor-bridge" "$bin/hwmon/sensor-bridge"
  echo "Sensor library: libsensors ($bin/hwmon/HWiNFO64.dll): $1" >&2
  echo "$bin/hwmon/sensor-bridge"
}

use_simulated() {
  echo "Sensor library: simulated ($bin/HWiNFO64.dll): $1" >&2
  echo "$bin/sensor-bridge"
}

built=false
[[ -f $bin/hwmon/HWiNFO64.dll ]] && built=true
case ${SENSOR_LIBRARY:-} in
  simulated) use_simulated "chosen by SENSOR_LIBRARY" ;;
  hwmon)
    if ! $built; then
      die "$bin/hwmon/HWiNFO64.dll is not built (it needs libsensors-dev)"
    fi
    use_hwmon "chosen by SENSOR_LIBRARY" ;;
  "")
    if ! hardware_inputs; then
      use_simulated "this machine has no hardware-monitoring devices"
    elif ! $built; then
      use_simulated "the libsensors library is not built (it needs libsensors-dev)"
    else
      use_hwmon "this machine has hardware-monitoring devices"
    fi ;;
  *)
    log "SENSOR_LIBRARY must be simulated or hwmon"
    exit 2 ;;
esac
