#!/usr/bin/env bash
# The desktop program under load, against the headless capture in one run.
#
# Starts a throwaway MariaDB server, prepares sysbench tables, then runs
# oltp_point_select for the same time and thread count
#   (a) through quarvel-capture --quiet,
#   (b) through bench_gui: the main window with the real capture engine,
#       showing in turn the flow page, the statistics page and a session tab,
#       under a virtual X server (xvfb-run) or Qt's offscreen platform,
# and prints statements per second of both, the share of (a) that (b) keeps,
# and the window's own figures: lag of flow rows behind the answers, the
# longest busy stretch of its GUI thread, and resident memory after a third
# of the run (at most 60 s) and at its end.
#
# usage: bench/gui/run.sh [--time S] [--threads N] [--tables N] [--table-size N]
#                         [--build DIR] [--platform xvfb|offscreen] [--top-tab queries|patterns]
#   --time S          seconds per run (default 180)
#   --threads N       sysbench threads (default 4)
#   --tables N        sysbench tables (default 4)
#   --table-size N    rows per table (default 10000)
#   --build DIR       build tree (default: $QUARVEL_BUILD_DIR, else ./build);
#                     quarvel-capture and bench_gui are built there when missing
#   --platform P      xvfb (default when xvfb-run exists) or offscreen
#   --top-tab T       the statistics page's top list shown: queries (default) or
#                     patterns (statement patterns by total time)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
time_s=180
threads=4
tables=4
table_size=10000
build=${QUARVEL_BUILD_DIR:-$src/build}
platform=xvfb
top_tab=queries
command -v xvfb-run >/dev/null || platform=offscreen
# shellcheck disable=SC1091
. "$src/scripts/lib/testenv.sh"
parse_options --time=time_s --threads=threads --tables=tables --table-size=table_size --build=build \
  --platform=platform --top-tab=top_tab -- "$@"
for v in "$time_s" "$threads" "$tables" "$table_size"; do
  [[ "$v" =~ ^[1-9][0-9]*$ ]] || { echo "not a positive number: $v" >&2; exit 2; }
done
case "$platform" in xvfb|offscreen) ;; *) echo "unknown platform $platform" >&2; exit 2 ;; esac

capture="$build/app/quarvel-capture"
gui="$build/bench/gui/bench_gui"
if [ ! -x "$capture" ] || [ ! -x "$gui" ]; then
  echo "building quarvel-capture and bench_gui in $build ..." >&2
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target quarvel-capture bench_gui >/dev/null
fi
command -v sysbench >/dev/null || { echo "sysbench not found: run scripts/install-deps.sh" >&2; exit 1; }

work=$(mktemp -d /tmp/quarvel-guibench.XXXXXX)
qpid=""
gpid=""
cleanup() {
  [ -n "$qpid" ] && kill "$qpid" 2>/dev/null || true
  [ -n "$gpid" ] && kill "$gpid" 2>/dev/null || true
  stop_throwaway_db "$work"
}
trap cleanup EXIT

start_throwaway_db "$work"
dbport=$QUARVEL_TEST_DB_PORT
common=(--mysql-host=127.0.0.1 --mysql-user="$QUARVEL_TEST_DB_USER" --mysql-password="$QUARVEL_TEST_DB_PASSWORD"
        --mysql-db="$QUARVEL_TEST_DB_NAME" --tables="$tables" --table-size="$table_size")
echo "preparing $tables tables of $table_size rows ..." >&2
sysbench oltp_point_select "${common[@]}" --mysql-port="$dbport" prepare >"$work/prepare.log" 2>&1 \
  || { cat "$work/prepare.log" >&2; exit 1; }

run_sysbench() { # PORT OUT
  sysbench oltp_point_select "${common[@]}" --mysql-port="$1" --db-ps-mode=disable --threads="$threads" \
    --time="$time_s" --report-interval=0 run >"$2" 2>&1 \
    || { echo "sysbench failed:" >&2; tail -20 "$2" >&2; return 1; }
}
qps() { awk '/queries:/ && /per sec/ { gsub(/[()]/, "", $3); print $3 }' "$1"; }
export QUARVEL_DATA_DIR="$build/share/quarvel"

# (a) headless capture
mkdir -p "$work/home-a"
port=$(free_port)
XDG_DATA_HOME="$work/home-a" "$capture" --server "127.0.0.1:$dbport" --port "$port" --user "$QUARVEL_TEST_DB_USER" \
  --password "$QUARVEL_TEST_DB_PASSWORD" --quiet >"$work/capture.out" 2>"$work/capture.err" &
qpid=$!
wait_port "$port" || { echo "quarvel-capture did not listen:" >&2; cat "$work/capture.err" >&2; exit 1; }
echo "running sysbench through quarvel-capture for $time_s s ..." >&2
run_sysbench "$port" "$work/a.out"
kill -INT "$qpid"; wait "$qpid" || true; qpid=""

# (b) the window with the engine
mkdir -p "$work/home-b"; runtime_dir "$work/runtime"
port=$(free_port)
gui_args=(--server "127.0.0.1:$dbport" --user "$QUARVEL_TEST_DB_USER" --password "$QUARVEL_TEST_DB_PASSWORD"
          --port "$port" --duration $((time_s + 4)) --top-tab "$top_tab")
start_bench_gui "$gui" "$platform" "$work" "${gui_args[@]}"
wait_port "$port" || { echo "bench_gui did not listen:" >&2; cat "$work/gui.err" >&2; exit 1; }
echo "running sysbench through the window ($platform) for $time_s s ..." >&2
run_sysbench "$port" "$work/b.out"
wait "$gpid" || { echo "bench_gui failed:" >&2; tail -20 "$work/gui.err" >&2; exit 1; }
gpid=""

qa=$(qps "$work/a.out")
qb=$(qps "$work/b.out")
printf '\noltp_point_select, %s s, %s threads, %s tables x %s rows, window on %s, top list %s\n' \
  "$time_s" "$threads" "$tables" "$table_size" "$platform" "$top_tab"
printf '%-28s %10s\n' "quarvel-capture --quiet qps" "$qa" "window qps" "$qb"
awk -v a="$qa" -v b="$qb" 'BEGIN { printf "%-28s %10.3f  (GUI cost %.1f%% of headless throughput)\n", "window / headless", b / a, (1 - b / a) * 100 }'
grep -v '^listening\|^opened' "$work/gui.out" | awk '{ printf "%-28s %10s\n", $1, $2 }'
grep '^opened' "$work/gui.out" | awk '{ printf "%-28s %10s\n", $1, $2 }'
# The GUI thread's long stalls (500 ms or more) with the page switches around
# them, from the window's log (the work folder goes when the script ends).
if grep -q '^stall' "$work/gui.err"; then
  echo "stalls of the GUI thread (500 ms or more), with page switches:"
  grep -E '^(stall|page|tab of)' "$work/gui.err" | sed 's/^/  /'
fi
