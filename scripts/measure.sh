#!/usr/bin/env bash
# Prints what the bridge and sensor-watch cost while they run for real, as the
# README's table of costs: processor time per refresh and resident memory, for
# the simulated library's default scenario and the large generated one (64
# sensors, 2000 readings). sensor-watch runs in serve mode, its heaviest: it
# keeps the history of every reading. Run it on an otherwise idle machine.
#
#   scripts/measure.sh [SECONDS]   (60 by default, after 10 seconds to settle)
set -euo pipefail
seconds=${1:-60}
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$repo"
ensure_packages "${native_packages[@]}" libgtest-dev libmicrohttpd-dev

cmake --preset default >/dev/null
cmake --build --preset default --target sensor-bridge sensor-watch simsensors >/dev/null
bin=build/default/bin
work=$(mktemp -d)
pids=()
finish() {
  ((${#pids[@]})) && kill "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap finish EXIT

# Nanoseconds the process has run on a processor, and its resident memory.
processor_ns() { cut -d' ' -f1 "/proc/$1/schedstat"; }
resident_mib() { awk '/^VmRSS:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"; }
# Snapshots that sensor-watch has recorded: one for each refresh it saw.
recorded() {
  python3 -c 'import http.client, json, sys
connection = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]))
connection.request("GET", "/api/status")
print(json.load(connection.getresponse())["sequence"])' "$1"
}

measure() {
  local name=$1 scenario=$2
  "$bin/sensor-watch" --serve 0 >"$work/watch.out" 2>"$work/watch.err" &
  local watch=$!
  pids+=("$watch")
  until grep -q '^serving ' "$work/watch.out"; do sleep 0.1; done
  local port
  port=$(sed -E -n 's|^serving [a-z]+://127\.0\.0\.1:([0-9]+)/.*|\1|p' "$work/watch.out")
  HWINFO_SIM_SCENARIO=$scenario "$bin/sensor-bridge" </dev/null >/dev/null &
  local bridge=$!
  pids+=("$bridge")
  sleep 10
  local bridge0 watch0 seq0
  bridge0=$(processor_ns "$bridge") watch0=$(processor_ns "$watch") seq0=$(recorded "$port")
  sleep "$seconds"
  local bridge1 watch1 seq1
  bridge1=$(processor_ns "$bridge") watch1=$(processor_ns "$watch") seq1=$(recorded "$port")
  local refreshes=$((seq1 - seq0))
  awk -v name="$name" -v bridge=$((bridge1 - bridge0)) -v watch=$((watch1 - watch0)) -v refreshes="$refreshes" \
    -v bridgeMiB="$(resident_mib "$bridge")" -v watchMiB="$(resident_mib "$watch")" \
    'BEGIN { printf "| %s | %.2f ms, %s MiB | %.2f ms, %s MiB |\n", name, bridge / refreshes / 1e6, bridgeMiB,
                    watch / refreshes / 1e6, watchMiB }' 
  kill "$bridge" "$watch"
  wait "$bridge" "$watch" 2>/dev/null || true
  pids=()
}

echo "generate 64 2000" >"$work/large.scenario"
echo "| Scenario | sensor-bridge: processor time per refresh, resident memory | sensor-watch --serve: processor time per snapshot, resident memory |"
echo "| --- | --- | --- |"
measure "default (14 sensors, 182 readings)" ""
measure "large (64 sensors, 2000 readings)" "$work/large.scenario"
echo
echo "scripts/measure.sh $seconds on $(nproc) cores of $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(date +%F)"
