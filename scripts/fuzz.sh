#!/usr/bin/env bash
# Builds the refresh's fuzz target (cmake --preset fuzz: clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs it for a bounded
# time, 60 seconds unless another number of seconds is given, in one job per
# core unless another number of jobs is given. A finding fails the script and
# leaves its input in build/fuzz/findings/.
#
#   scripts/fuzz.sh [SECONDS [JOBS]]
#
# One job alone prints as it goes. Several jobs share the working corpus,
# each taking up what the others find within a second; each writes its own
# log, build/fuzz/logs/fuzz-N.log, printed when the job ends, and the script
# ends with their figures added up.
set -euo pipefail
seconds=${1:-60}
jobs=${2:-$(nproc)}
if [[ ! $seconds =~ ^[0-9]+$ || ! $jobs =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS [JOBS]]" >&2
  exit 2
fi
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$repo"
ensure_packages "${native_packages[@]}" clang libclang-rt-14-dev

cmake --preset fuzz
cmake --build --preset fuzz -j "$(nproc)"

# What the fuzzer learns goes into a working corpus in the build directory,
# which later runs on this machine start from; the seeds in the repository
# stay as they are.
corpus=build/fuzz/corpus
findings=build/fuzz/findings
mkdir -p "$corpus" "$findings"
# A run costs a fixed 8192 reading calls per sensor, but inputs whose text
# nears 1 MiB cost fifty times more; weighing inputs by their speed keeps the
# fuzzer on the many fast ones without losing the slow ones. A smaller
# quarantine than AddressSanitizer's 256 MiB keeps the freed texts from
# holding hundreds of megabytes, and shorter allocation stacks make every
# allocation cheaper; rerun a finding alone for the full stacks. Passing
# 1 GiB of memory is a finding too. 1200 bytes hold the longest name with
# room to spare; longer inputs only add more readings of the kinds a short
# one has, and slow every run down.
export ASAN_OPTIONS="quarantine_size_mb=64:malloc_context_size=10${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
fuzz=("$repo/build/fuzz/bin/refresh_fuzzer" -max_total_time="$seconds" -timeout=60 -rss_limit_mb=1024
  -max_len=1200 -entropic_scale_per_exec_time=1 -print_final_stats=1 -artifact_prefix="$repo/$findings/"
  "$repo/$corpus" "$repo/publish/fuzz/corpus")
if ((jobs == 1)); then
  exec "${fuzz[@]}"
fi

# libFuzzer runs the jobs and writes their logs into the directory it runs
# in; it fails when any job does.
logs=build/fuzz/logs
rm -rf "$logs"
mkdir -p "$logs"
status=0
(cd "$logs" && "${fuzz[@]}" -jobs="$jobs" -workers="$jobs") || status=$?
cat "$logs"/fuzz-*.log | awk -v jobs="$jobs" '
  /^stat::number_of_executed_units:/ { runs += $2 }
  /^stat::average_exec_per_sec:/ { rate += $2; rates = rates (rates ? ", " : "") $2 }
  /^stat::peak_rss_mb:/ { if ($2 > rss) rss = $2 }
  END { printf "fuzz.sh: %d jobs, %d runs, %d exec/s in all (%s per job), peak RSS %d MB per job\n",
               jobs, runs, rate, rates, rss }'
exit "$status"
