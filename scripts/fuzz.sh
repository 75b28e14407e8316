#!/usr/bin/env bash
# Builds the libFuzzer targets (they belong to the clang build of the
# "asan-ubsan" preset) and runs each one for the given number of seconds
# (default 30), starting from its seeds in tests/fuzz/corpus/<target>/. Inputs
# found on the way collect in build-asan-ubsan/fuzz/corpus/<target>/; an input
# that breaks a target is kept in build-asan-ubsan/fuzz/findings/<target>/ with
# the target's log. Exits with status 1 when any target failed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds="${1:-30}"
scripts/install-deps.sh
cmake --preset asan-ubsan >/dev/null
cmake --build --preset fuzz >/dev/null

failed=()
for seeds in tests/fuzz/corpus/*/; do
  name=$(basename "$seeds")
  corpus="build-asan-ubsan/fuzz/corpus/$name"
  findings="build-asan-ubsan/fuzz/findings/$name"
  mkdir -p "$corpus" "$findings"
  # Each input gets 10 s: an input that takes longer is a hang, and a finding.
  if "build-asan-ubsan/tests/fuzz/$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$findings/" "$corpus" "$seeds" >"$findings/log" 2>&1; then
    echo "$name: passed, $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$findings/log" | grep -o '[0-9]*$') inputs in ${seconds} s"
  else
    echo "$name: FAILED (input and log in $findings/)"
    tail -n 40 "$findings/log"
    failed+=("$name")
  fi
done
[ ${#failed[@]} -eq 0 ]
