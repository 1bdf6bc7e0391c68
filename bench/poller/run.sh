#!/usr/bin/env bash
# The window thread's time held up per statistics poll against a server
# DELAY ms away (each way), measured in one run by bench_poller.
#
# usage: bench/poller/run.sh [--delay MS] [--polls N] [--build DIR] [--baseline DIR]
#   --delay MS      delay of the relay in front of the server, each way (default 50)
#   --polls N       polls to watch (default 10)
#   --build DIR     build tree with bench/poller/bench_poller and tests/delay-relay
#                   (default: $QUARVEL_BUILD_DIR, else ./build)
#   --baseline DIR  a second build tree whose bench_poller runs against the same
#                   relay, for before/after figures
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
delay=50
polls=10
build=${QUARVEL_BUILD_DIR:-$src/build}
baseline=""
while [ $# -gt 0 ]; do
  case "$1" in
    --delay) delay=$2; shift 2 ;;
    --polls) polls=$2; shift 2 ;;
    --build) build=$2; shift 2 ;;
    --baseline) baseline=$2; shift 2 ;;
    -h|--help) sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done
for b in "$build" ${baseline:+"$baseline"}; do
  [ -x "$b/bench/poller/bench_poller" ] || { echo "no bench_poller in $b/bench/poller: build it first" >&2; exit 2; }
done
[ -x "$build/tests/delay-relay" ] || { echo "no delay-relay in $build/tests" >&2; exit 2; }

work=$(mktemp -d /tmp/quarvel-pollbench.XXXXXX)
relay=""
cleanup() {
  [ -n "$relay" ] && kill "$relay" 2>/dev/null || true
  "$src/scripts/testdb.sh" stop "$work/db" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

"$src/scripts/testdb.sh" start "$work/db" >/dev/null
# shellcheck disable=SC1091
. "$work/db/env"
"$build/tests/delay-relay" 127.0.0.1 "$QUARVEL_TEST_DB_PORT" "$delay" >"$work/relay.port" &
relay=$!
for _ in $(seq 1 100); do [ -s "$work/relay.port" ] && break; sleep 0.05; done
port=$(head -1 "$work/relay.port")

run() { # run NAME BUILD
  echo "== $1 ($2), server $delay ms away each way, $polls polls"
  "$2/bench/poller/bench_poller" --server "127.0.0.1:$port" --user "$QUARVEL_TEST_DB_USER" \
    --password "$QUARVEL_TEST_DB_PASSWORD" --polls "$polls"
}
[ -n "$baseline" ] && run baseline "$baseline"
run build "$build"
