#!/usr/bin/env bash
# Sets up, builds and installs Quarvel, then starts it.
# Runs as the user who typed the command (under sudo: $SUDO_USER); root is
# asked for (sudo) only to install packages and to install into /usr.
# When nothing answers at the current profile's server, a throwaway sandbox
# server with a small sample application is started first (scripts/sandbox.sh),
# so that statements flow on screen at once; it is stopped when Quarvel exits.
# QUARVEL_NO_SANDBOX=1 skips the sandbox.
set -euo pipefail
cd "$(dirname "$0")/.."
# shellcheck disable=SC1091
. scripts/lib/privilege.sh
rerun_as_invoking_user scripts/launch.sh "$@"
bash scripts/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)"
as_root cmake --install build >/dev/null

if [ "${QUARVEL_NO_SANDBOX:-0}" != 1 ] && bash scripts/sandbox.sh needed; then
  echo "No database server answers at the current profile: starting the sandbox."
  bash scripts/sandbox.sh start
  trap 'bash scripts/sandbox.sh stop >/dev/null 2>&1 || true' EXIT
fi
echo "Quarvel: point your application at 127.0.0.1:$(bash scripts/sandbox.sh profiler-port) instead of the database server."
quarvel "$@"
