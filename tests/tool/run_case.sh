#!/usr/bin/env bash
# Runs one case of cases.txt against the built treetool and compares its output and exit
# status. A case is
#   ### NAME
#   shell command line(s), where `treetool` is the binary and $OUT a fresh directory
#   --- status N
#   expected standard output
#   --- stderr            (optional: expected standard error; without it, it is not checked)
#   expected standard error
# Cases are separated by one blank line. Commands run in tests/data.
set -uo pipefail
treetool_bin="$(realpath "$1")"
cases="$2"
name="$3"
data_dir="$(cd "$(dirname "$cases")/../data" && pwd)"

OUT="$(mktemp -d)"
trap 'rm -rf "$OUT"' EXIT
export OUT

# Splits the case into its parts.
awk -v name="$name" -v out="$OUT" '
  /^### / { active = ($2 == name); part = "cmd"; next }
  !active { next }
  /^--- status / { part = "stdout"; print $3 > (out "/.status"); next }
  /^--- stderr$/ { part = "stderr"; next }
  { print > (out "/." part) }
' "$cases"
[ -f "$OUT/.cmd" ] || { echo "no case named $name"; exit 2; }
touch "$OUT/.stdout"
# The blank line that separates cases belongs to none of them.
for part in "$OUT/.stdout" "$OUT/.stderr"; do
  [ -f "$part" ] && sed -i '${/^$/d}' "$part"
done

treetool() { "$treetool_bin" "$@"; }
export -f treetool
export treetool_bin

(cd "$data_dir" && bash -o pipefail "$OUT/.cmd" >"$OUT/.got_stdout" 2>"$OUT/.got_stderr")
status=$?

failed=0
if [ "$status" != "$(cat "$OUT/.status")" ]; then
  echo "exit status $status, expected $(cat "$OUT/.status")"
  failed=1
fi
if ! diff -u "$OUT/.stdout" "$OUT/.got_stdout"; then
  echo "standard output differs"
  failed=1
fi
if [ -f "$OUT/.stderr" ] && ! diff -u "$OUT/.stderr" "$OUT/.got_stderr"; then
  echo "standard error differs"
  failed=1
fi
if [ "$failed" = 1 ]; then
  echo "--- standard error was:"
  cat "$OUT/.got_stderr"
fi
exit "$failed"
