#!/usr/bin/env bash
# Installs what is missing, builds, and runs the quickstart host program.
set -euo pipefail
cd "$(dirname "$0")"

scripts/install-deps.sh
cmake --preset default
cmake --build --preset default --target quickstart
./build/default/examples/quickstart
