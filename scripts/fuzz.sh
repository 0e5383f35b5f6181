#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for the given number of seconds
# (default 60), starting from its seed corpus. A crash, leak or timeout fails the run.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-60}"

scripts/install-deps.sh
cmake --preset fuzz
cmake --build --preset fuzz

targets=(fuzz_id_block fuzz_string_arr fuzz_json_read fuzz_json_nlohmann fuzz_text_read)
[ -x build/fuzz/fuzz/fuzz_zk_codec ] && targets+=(fuzz_zk_codec)
for target in "${targets[@]}"; do
  work="build/fuzz/corpus/$target"
  mkdir -p "$work"
  # The comparison with nlohmann starts from the JSON reader's seeds.
  seeds="fuzz/corpus/${target/fuzz_json_nlohmann/fuzz_json_read}"
  echo "-- $target for ${seconds}s"
  "build/fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="build/fuzz/$target-" "$work" "$seeds"
done
