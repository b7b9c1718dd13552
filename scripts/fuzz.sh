#!/usr/bin/env bash
# Builds the refresh's fuzz target (cmake --preset fuzz: clang, libFuzzer,
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs it for a bounded
# time, 60 seconds unless another number of seconds is given. A finding fails
# the script and leaves its input in build/fuzz/findings/.
#
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
seconds=${1:-60}
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$repo"
source scripts/packages.sh
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
ASAN_OPTIONS="quarantine_size_mb=64:malloc_context_size=10${ASAN_OPTIONS:+:$ASAN_OPTIONS}" \
  build/fuzz/bin/refresh_fuzzer -max_total_time="$seconds" -timeout=60 -rss_limit_mb=1024 \
  -max_len=1200 -entropic_scale_per_exec_time=1 -print_final_stats=1 -artifact_prefix="$findings/" \
  "$corpus" publish/fuzz/corpus
