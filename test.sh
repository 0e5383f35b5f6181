#!/usr/bin/env bash
# Installs what is missing, configures, builds and runs every test through ctest.
#   ./test.sh           the default build
#   ./test.sh asan      AddressSanitizer + UndefinedBehaviorSanitizer
#   ./test.sh tsan      ThreadSanitizer
# Exits non-zero on any failure; safe to run again.
set -euo pipefail
cd "$(dirname "$0")"
preset="${1:-default}"

scripts/install-deps.sh
# Real JSON for the real-data tests; without it they are skipped, and this says why.
scripts/fetch-test-data.sh build/test-data || echo "test.sh: could not fetch the real-data test files" >&2
cmake --preset "$preset"
cmake --build --preset "$preset"

ctest_args=(--preset "$preset" -j2)
# The consumer builds compile the library again from scratch; once per run is enough.
[ "$preset" = default ] || ctest_args+=(-LE consumer)
ctest "${ctest_args[@]}"
