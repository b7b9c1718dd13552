#!/usr/bin/env bash
# Runs the program for real with the simulated sensor library beside it, and
# sensor-watch showing the readings it publishes, until Ctrl-C.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$repo"
ensure_packages "${native_packages[@]}" libgtest-dev

# Configured every time, so that a library installed since is found.
cmake --preset default >/dev/null
cmake --build --preset default --target sensor-bridge simsensors hwmonsensors sensor-watch >/dev/null
bin=build/default/bin
# The libsensors library where the machine has hardware monitoring, the
# simulated one otherwise; the script says which on stderr.
program_path=$(scripts/choose-library.sh "$bin")

log=$(mktemp)
watch=
program=
# Ends both programs and removes the log. The programs' own exit statuses
# (the bridge dies of the signal) are not this script's: a stop asked for by
# Ctrl-C ends it with status 0.
stop() {
  trap - EXIT INT TERM
  if [[ -n $program ]]; then
    kill "$program" 2>/dev/null || true
    wait "$program" 2>/dev/null || true
  fi
  if [[ -n $watch ]]; then
    # sensor-watch removes the block when it is interrupted.
    kill -INT "$watch" 2>/dev/null || true
    wait "$watch" 2>/dev/null || true
  fi
  rm -f "$log"
}
trap stop EXIT
trap 'stop; exit 0' INT TERM

# sensor-watch creates the block first, in place of the consumer (or
# attaches to one that the consumer made); the program only opens it.
"$bin/sensor-watch" &
watch=$!
for _ in $(seq 50); do
  [[ -e /dev/shm/shareMemory_QORAInfo ]] && break
  sleep 0.1
done
"$program_path" </dev/null >"$log" 2>&1 &
program=$!
sleep 1
if ! kill -0 "$program" 2>/dev/null; then
  echo "sensor-bridge ended:" >&2
  cat "$log" >&2
  program=
  exit 1
fi
wait "$watch"
