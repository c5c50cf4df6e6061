#!/usr/bin/env bash
# The scripts answer as their --help says, for the calls where one once did
# not:
# - every script of scripts/ and bench/ answers --help with its usage and
#   its exit codes, and ends with 0;
# - scripts/module refuses a description named like a test module with its
#   name and exit code 1, and leaves the build folder's configuration as it
#   was (the build would otherwise make the test module under that name, and
#   a configure that failed on the clash broke every later build there);
# - scripts/demo --fail ends with 1, as the install it shows does; only in
#   the build the demo runs, whose Wine session it then starts again.
#
#   check_scripts.sh BUILD_DIR
set -uo pipefail
build=$(cd "$1" && pwd)
root=$(cd "$(dirname "$0")/../.." && pwd)
failures=0
fail() { echo "FAILED: $*"; failures=$((failures + 1)); }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

for script in "$root"/scripts/* "$root"/bench/*; do
  [ -x "$script" ] && [ -f "$script" ] && head -c 2 "$script" | grep -q '#!' || continue
  name=${script#"$root/"}
  out=$("$script" --help 2>&1)
  status=$?
  [ $status = 0 ] || fail "$name --help ended with $status"
  grep -q '^Exit code' <<<"$out" || fail "$name --help does not give its exit codes: $(head -n 3 <<<"$out")"
done

cp "$root/tests/ui/english_failure.ini" "$tmp/english_failure.ini"
cp "$build/CMakeCache.txt" "$tmp/cache"
out=$("$root/scripts/module" "$tmp/english_failure.ini" --build "$build" 2>&1)
status=$?
[ $status = 1 ] || fail "scripts/module of a description named english_failure ended with $status: $out"
grep -q "english_failure" <<<"$out" || fail "scripts/module's refusal does not name english_failure: $out"
cmp -s "$tmp/cache" "$build/CMakeCache.txt" || fail "scripts/module changed $build/CMakeCache.txt while refusing"

demo_dir=$(bash -c 'source "$0/scripts/common.sh" && testbed_dir' "$root")
if [ "$demo_dir" = "$build" ]; then
  out=$(QUORIN_DEMO_READY=1 "$root/scripts/demo" --fail 2>&1)
  status=$?
  [ $status = 1 ] || fail "scripts/demo --fail ended with $status: $(tail -n 5 <<<"$out")"
  grep -q "exit code 1" <<<"$out" || fail "scripts/demo --fail shows no install ending with 1: $(tail -n 5 <<<"$out")"
  # The demo leaves its sandbox behind and stops the prefix's wineserver.
  "$root/scripts/wine-run" "$build" "$build/bin/sandbox.exe" clean >/dev/null
  "$root/scripts/wine-run" "$build" --start
fi

echo "scripts checked, $failures failed"
[ $failures = 0 ]
