#!/usr/bin/env bash
# Builds the native programs and runs the soak test: the program, built with
# a 50 ms pause between refreshes, refreshes the large generated scenario
# (64 sensors, 2000 readings) 300 times while a consumer copies the block
# without a lock. It takes about a minute and prints the figures it compares
# at the start and the end: resident memory, open descriptors and processor
# time per refresh.
#
#   scripts/soak.sh
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
cd "$repo"
ensure_packages "${native_packages[@]}" libgtest-dev libgmock-dev

cmake --preset default
cmake --build --preset default -j "$(nproc)"
ctest --preset soak
