#!/usr/bin/env bash
# Sets up, builds and installs Quarvel, then starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"
cmake --install build >/dev/null
exec quarvel "$@"
