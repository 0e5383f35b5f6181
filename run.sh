#!/usr/bin/env bash
# Installs what is missing, builds treetool and the example host programs, and takes a short
# tour of treetool on the bundled sample configuration. Works from any directory.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
cd "$repo"

scripts/install-deps.sh >&2
cmake --preset default >/dev/null
cmake --build --preset default --target treetool load_sample quickstart >/dev/null

treetool="$repo/build/default/tools/treetool/treetool"
json=examples/sample.json
text=examples/sample.tree
work=build/tour
rm -rf "$work"
mkdir -p "$work"

step() {
  printf '\n$ treetool %s\n' "$*"
  "$treetool" "$@"
}

echo "== treetool on examples/sample.json (a service configuration) and sample.tree"
step show "$json" 'services\gateway\listen'
step get "$json" 'services\orders\endpoints\1\host'
step search "$json" 'log\level' --cut-root
step checksum "$json"
step checksum "$json" --ignore-order
step convert "$json" --to text -o "$work/sample.tree"
step count "$work/sample.tree"
step encode "$json" -o "$work/sample.block"
step decode "$work/sample.block" -o "$work/decoded.tree"
step checksum "$work/decoded.tree"
step set "$json" 'services\billing\replicas' 8 -o "$work/changed.json"
step changes "$work/changed.json" --to text
printf '\n$ treetool diff %s %s\n' "$json" "$text"
"$treetool" diff "$json" "$text" || echo "(exit $?: the trees differ)"

echo
echo "== a host program that loads the sample with the formats library"
"$repo/build/default/examples/load_sample"
