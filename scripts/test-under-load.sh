#!/usr/bin/env bash
# Runs a test preset (default unless another is named) with one CPU-bound
# process per core beside it, to show that no test depends on the machine
# being idle. The load stops however the run ends. Build first, for example
# with scripts/test.sh.
#
#   scripts/test-under-load.sh [PRESET] [CTEST ARGUMENTS...]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$repo"
preset=${1:-default}
shift || true

load=()
stop_load() {
  ((${#load[@]})) && kill "${load[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
}
trap stop_load EXIT
trap 'exit 130' INT TERM
for _ in $(seq "$(nproc)"); do
  (while :; do :; done) &
  load+=($!)
done
log "${#load[@]} busy loops beside ctest --preset $preset"
start=$SECONDS
status=0
ctest --preset "$preset" "$@" || status=$?
log "ctest --preset $preset took $((SECONDS - start)) s, status $status"
exit "$status"
