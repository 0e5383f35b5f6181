#!/usr/bin/env bash
# Builds the Release preset and prints the comparison table of bench/compare.cpp: this
# library beside Boost.PropertyTree, nlohmann::json and nlohmann::ordered_json, one process,
# minimum of three runs.
#   bench/compare.sh        with the node heap (TREE_NODE_ALLOCATOR=ON, the default)
#   bench/compare.sh off    without it, in build/release-heap-off: every block from malloc
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=build/release
if [ "${1:-}" = off ]; then
  build=build/release-heap-off
  cmake --preset release -B "$build" -DTREE_NODE_ALLOCATOR=OFF >/dev/null
else
  cmake --preset release >/dev/null
fi
nice -n 10 cmake --build "$build" -j2 --target bench_compare >/dev/null
"$build/bench/bench_compare"
