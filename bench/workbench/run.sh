#!/usr/bin/env bash
# The result grid and the twin grouping, measured in one run.
#
# Starts a throwaway MariaDB server (scripts/testdb.sh, stopped at the end),
# runs bench_grid against it on Qt's offscreen platform, which prints for
# 10 000 and 100 000 rows x 10 columns the time from the result set being
# ready to the grid's first paint, the time until a typed filter shows its
# rows and memory per cell; then runs bench_twin (the twin grouping) when the
# build tree has it. Builds nothing: build bench_grid (and bench_twin) first.
#
# usage: bench/workbench/run.sh [--build DIR]
#   --build DIR   build tree (default: $QUARVEL_BUILD_DIR, else ./build)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
build=${QUARVEL_BUILD_DIR:-$src/build}
# shellcheck disable=SC1091
. "$src/scripts/lib/testenv.sh"
parse_options --build=build -- "$@"

grid="$build/bench/workbench/bench_grid"
twin="$build/bench/twin/bench_twin"
[ -x "$grid" ] || { echo "$grid is missing: cmake --build $build --target bench_grid" >&2; exit 1; }

work=$(mktemp -d /tmp/quarvel-gridbench.XXXXXX)
trap 'stop_throwaway_db "$work"' EXIT
start_throwaway_db "$work"
runtime_dir "$work/runtime"
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" QUARVEL_DATA_DIR="$build/share/quarvel"

echo "== result grid"
"$grid" --host "$QUARVEL_TEST_DB_HOST" --port "$QUARVEL_TEST_DB_PORT" --user "$QUARVEL_TEST_DB_USER" \
  --password "$QUARVEL_TEST_DB_PASSWORD" --database "$QUARVEL_TEST_DB_NAME" 2> >(grep -v propagateSizeHints >&2)
if [ -x "$twin" ]; then
  echo "== twin grouping"
  "$twin"
else
  echo "== twin grouping: $twin not built, skipped"
fi
