#!/usr/bin/env bash
# Builds and runs every benchmark; each reports its figures beside a baseline
# measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build
find build/bench -mindepth 2 -maxdepth 2 -type f -executable | sort | while read -r b; do
  echo "== $b"
  "$b" --benchmark_counters_tabular=true
done
