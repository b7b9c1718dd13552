#!/usr/bin/env bash
# Prints what the bridge and sensor-watch cost while they run for real, as the
# README's table of costs: processor time per refresh and resident memory, for
# the simulated library's default scenario and the large generated one (64
# sensors, 2000 readings). sensor-watch runs in serve mode, its heaviest: it
# keeps the history of every reading, and its resident memory is read again
# after ten openings of the page (each asks for the page, the status, the
# snapshot and the last 120 points of every reading's history). Run it on an
# otherwise idle machine; on a busy one the processor times still hold, the
# wall clock does not.
#
#   scripts/measure.sh [SECONDS]   (60 by default, after 10 seconds to settle)
#   BIN=DIR scripts/measure.sh     the programs already built in DIR (another
#                                  build, to compare), with the simulated library
set -euo pipefail
seconds=${1:-60}
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$repo"
ensure_packages "${native_packages[@]}" libgtest-dev libmicrohttpd-dev

bin=${BIN:-build/default/bin}
if [[ -z ${BIN:-} ]]; then
  cmake --preset default >/dev/null
  cmake --build --preset default --target sensor-bridge sensor-watch simsensors >/dev/null
fi
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
# What a browser asks for when it opens the page, ten times over.
open_page() {
  python3 -c 'import http.client, sys
connection = http.client.HTTPConnection("127.0.0.1", int(sys.argv[1]))
for _ in range(10):
    for path in ("/", "/api/status", "/api/snapshot", "/api/history?points=120"):
        connection.request("GET", path)
        connection.getresponse().read()' "$1"
}

measure() {
  local name=$1 scenario=$2
  # Emptied here, not by the child's redirection, so that the line of the
  # scenario before is never taken for this one's.
  : >"$work/watch.out"
  "$bin/sensor-watch" --serve 0 >>"$work/watch.out" 2>"$work/watch.err" &
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
  local refreshes=$((seq1 - seq0)) bridgeMiB watchMiB
  bridgeMiB=$(resident_mib "$bridge") watchMiB=$(resident_mib "$watch")
  open_page "$port"
  awk -v name="$name" -v bridge=$((bridge1 - bridge0)) -v watch=$((watch1 - watch0)) -v refreshes="$refreshes" \
    -v bridgeMiB="$bridgeMiB" -v watchMiB="$watchMiB" -v pageMiB="$(resident_mib "$watch")" \
    'BEGIN { printf "| %s | %.2f ms, %s MiB | %.2f ms, %s MiB, %s MiB |\n", name, bridge / refreshes / 1e6,
                    bridgeMiB, watch / refreshes / 1e6, watchMiB, pageMiB }' 
  kill "$bridge" "$watch"
  wait "$bridge" "$watch" 2>/dev/null || true
  pids=()
}

echo "generate 64 2000" >"$work/large.scenario"
echo "| Scenario | sensor-bridge: processor time per refresh, resident memory | sensor-watch --serve: processor time per snapshot, resident memory, and after ten page openings |"
echo "| --- | --- | --- |"
measure "default (14 sensors, 182 readings)" ""
measure "large (64 sensors, 2000 readings)" "$work/large.scenario"
echo
echo "scripts/measure.sh $seconds on $(nproc) cores of $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'), $(date +%F)"
