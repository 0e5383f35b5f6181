#!/usr/bin/env bash
# Downloads a second real document for bench_formats into DIR (default build/bench-data):
# GitHub's REST API description with every reference resolved (73 MB of JSON, deep objects and
# long strings, unlike the browser compatibility data's many small leaves), from the npm
# registry, checked against its SHA-256. Does nothing when the file is there.
#   bench/fetch-bench-data.sh [DIR]; then build/release/bench/bench_formats DIR/api.github.com.deref.json
set -euo pipefail
dir="${1:-$(dirname "$0")/../build/bench-data}"
mkdir -p "$dir"
cd "$dir"
[ -f api.github.com.deref.json ] && exit 0
url=https://registry.npmjs.org/@octokit/openapi/-/openapi-23.0.2.tgz
curl -sSfL --retry 3 --max-time 300 -o openapi.tgz.part "$url"
echo "71a18407dd5e8464f4e0525daf03deabbe65abd9287d6adc7b5d98f516cd0d0c  openapi.tgz.part" |
  sha256sum -c --quiet -
tar xzf openapi.tgz.part -O package/generated/api.github.com.deref.json >api.github.com.deref.json.part
mv api.github.com.deref.json.part api.github.com.deref.json
rm -f openapi.tgz.part
