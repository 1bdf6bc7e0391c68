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
# shellcheck disable=SC1091
. "$src/scripts/lib/testenv.sh"
parse_options --delay=delay --polls=polls --build=build --baseline=baseline -- "$@"
for b in "$build" ${baseline:+"$baseline"}; do
  [ -x "$b/bench/poller/bench_poller" ] || { echo "no bench_poller in $b/bench/poller: build it first" >&2; exit 2; }
done
[ -x "$build/tests/delay-relay" ] || { echo "no delay-relay in $build/tests" >&2; exit 2; }

work=$(mktemp -d /tmp/quarvel-pollbench.XXXXXX)
relay=""
cleanup() {
  [ -n "$relay" ] && kill "$relay" 2>/dev/null || true
  stop_throwaway_db "$work"
}
trap cleanup EXIT

start_throwaway_db "$work"
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
