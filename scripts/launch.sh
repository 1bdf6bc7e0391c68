#!/usr/bin/env bash
# Sets up, builds and installs Quarvel, then starts it.
# When nothing answers at the current profile's server, a throwaway sandbox
# server with a small sample application is started first (scripts/sandbox.sh),
# so that statements flow on screen at once; it is stopped when Quarvel exits.
# QUARVEL_NO_SANDBOX=1 skips the sandbox.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"
cmake --install build >/dev/null

if [ "${QUARVEL_NO_SANDBOX:-0}" != 1 ] && bash scripts/sandbox.sh needed; then
  echo "No database server answers at the current profile: starting the sandbox."
  bash scripts/sandbox.sh start
  trap 'bash scripts/sandbox.sh stop >/dev/null 2>&1 || true' EXIT
fi
quarvel "$@"
