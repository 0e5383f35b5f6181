#!/usr/bin/env bash
# Builds the Release preset and prints the comparison table of bench/compare.cpp: this
# library beside Boost.PropertyTree and nlohmann::json, one process, minimum of three runs.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset release >/dev/null
nice -n 10 cmake --build build/release -j2 --target bench_compare >/dev/null
build/release/bench/bench_compare
