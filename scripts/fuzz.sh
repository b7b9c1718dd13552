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
build/fuzz/bin/refresh_fuzzer -max_total_time="$seconds" -timeout=60 -rss_limit_mb=4096 \
  -print_final_stats=1 -artifact_prefix="$findings/" "$corpus" publish/fuzz/corpus
