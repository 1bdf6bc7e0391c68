#!/usr/bin/env bash
# The window thread's longest hold-up while the server statistics are polled
# every second, against a server 0, 50 and 200 ms away (round trip), measured
# in one run by bench_poller with the real main window (offscreen) drawing
# every poll; the relay in front of the server is the tests' delay-relay.
# Columns: the longest gap of a 10 ms timer in the window's thread without
# the time the thread waited for a processor (longest-gap-own: what the
# program held it up for), the same as seen (longest-gap: on a busy machine
# it includes the other programs' turns), and the own time held per poll.
#
# usage: bench/poller/run.sh [--round-trips "0 50 200"] [--polls N] [--build DIR]
#                            [--window 0|1] [--baseline DIR]
#   --round-trips L  round trips in ms to measure, half of each is the relay's
#                    delay in each direction (default "0 50 200")
#   --polls N        polls to watch per round trip (default 10)
#   --build DIR      build tree with bench/poller/bench_poller and tests/delay-relay
#                    (default: $QUARVEL_BUILD_DIR, else ./build)
#   --window 0|1     1 (default): the main window draws the polls; 0: the proxy alone
#   --baseline DIR   a second build tree whose bench_poller (proxy alone) runs
#                    against the same relays, for before/after figures
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
round_trips="0 50 200"
polls=10
window=1
build=${QUARVEL_BUILD_DIR:-$src/build}
baseline=""
# shellcheck disable=SC1091
. "$src/scripts/lib/testenv.sh"
parse_options --round-trips=round_trips --polls=polls --build=build --window=window --baseline=baseline -- "$@"
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
export QT_QPA_PLATFORM=offscreen XDG_RUNTIME_DIR="$work/runtime" QUARVEL_DATA_DIR="$build/share/quarvel"
runtime_dir "$work/runtime"
start_throwaway_db "$work"

run() { # run NAME BUILD PORT WINDOW
  "$2/bench/poller/bench_poller" --server "127.0.0.1:$3" --user "$QUARVEL_TEST_DB_USER" \
    --password "$QUARVEL_TEST_DB_PASSWORD" --polls "$polls" --window "$4" >"$work/out" 2>"$work/err" \
    || { grep -v propagateSizeHints "$work/err" >&2; echo "bench_poller failed ($1)" >&2; return 1; }
  awk -v name="$1" -v rt="$rt" '{ v[$1] = $2 } END {
    printf "%-9s %6s ms %10s %12s %16s %14s %16s\n", name, rt, v["start-ms"], v["start-stall-ms"],
      v["poll-stall-own-ms-max"], v["poll-stall-ms-max"], v["blocked-ms-per-poll"] }' "$work/out"
}

echo "$polls polls at a 1 s period per round trip; $( [ "$window" = 1 ] && echo "main window drawing them" || echo "proxy alone")"
printf "%-9s %9s %10s %12s %16s %14s %16s\n" build round-trip start-ms start-stall longest-gap-own longest-gap blocked-ms/poll
for rt in $round_trips; do
  "$build/tests/delay-relay" 127.0.0.1 "$QUARVEL_TEST_DB_PORT" "$((rt / 2))" >"$work/relay.port" &
  relay=$!
  for _ in $(seq 1 100); do [ -s "$work/relay.port" ] && break; sleep 0.05; done
  port=$(head -1 "$work/relay.port")
  [ -n "$baseline" ] && run baseline "$baseline" "$port" 0
  run build "$build" "$port" "$window"
  kill "$relay" 2>/dev/null || true
  wait "$relay" 2>/dev/null || true
  relay=""
  : >"$work/relay.port"
done
