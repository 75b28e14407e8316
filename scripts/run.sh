#!/usr/bin/env bash
# Installs what is missing, builds the application and starts it.
# Extra arguments go to vesko (for example --stdio).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build --target vesko vesko_pages >/dev/null
exec build/vesko "$@"
