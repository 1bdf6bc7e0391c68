#!/usr/bin/env bash
# Hours of capture in one run: N statements of oltp_point_select through
# quarvel-capture --quiet, then through the window (bench_gui with the real
# engine), printing resident memory every minute, the bytes each statement
# costs and the throughput of the window against the headless program.
#
# usage: bench/memory/soak.sh [--statements N] [--threads N] [--budget MIB]
#                             [--archive yes|no] [--window yes|no]
#                             [--build DIR] [--platform xvfb|offscreen]
#   --statements N    statements per run (default 10000000)
#   --archive yes     quarvel-capture also writes every session to an archive
#                     file as it runs (default no)
#   --window no       the headless run only (default yes)
#   --threads N       sysbench threads (default 4)
#   --budget MIB      the window's memory budget (default: its setting's default)
#   --build DIR       build tree (default: $QUARVEL_BUILD_DIR, else ./build)
#   --platform P      xvfb (default when xvfb-run exists) or offscreen
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
statements=10000000
threads=4
budget=0
archive=no
window=yes
build=${QUARVEL_BUILD_DIR:-$src/build}
platform=xvfb
command -v xvfb-run >/dev/null || platform=offscreen
# shellcheck disable=SC1091
. "$src/scripts/lib/testenv.sh"
parse_options --statements=statements --threads=threads --budget=budget --archive=archive --window=window \
  --build=build --platform=platform -- "$@"
for v in "$statements" "$threads"; do
  [[ "$v" =~ ^[1-9][0-9]*$ ]] || { echo "not a positive number: $v" >&2; exit 2; }
done
capture="$build/app/quarvel-capture"
gui="$build/bench/gui/bench_gui"
[ -x "$capture" ] && [ -x "$gui" ] || cmake --build "$build" -j2 --target quarvel-capture bench_gui >/dev/null
command -v sysbench >/dev/null || { echo "sysbench not found: run scripts/install-deps.sh" >&2; exit 1; }

work=$(mktemp -d /tmp/quarvel-soak.XXXXXX)
qpid=""; gpid=""; spid=""
cleanup() {
  for p in "$qpid" "$gpid" "$spid"; do [ -n "$p" ] && kill "$p" 2>/dev/null || true; done
  stop_throwaway_db "$work"
}
trap cleanup EXIT
start_throwaway_db "$work"
dbport=$QUARVEL_TEST_DB_PORT
common=(--mysql-host=127.0.0.1 --mysql-user="$QUARVEL_TEST_DB_USER" --mysql-password="$QUARVEL_TEST_DB_PASSWORD"
        --mysql-db="$QUARVEL_TEST_DB_NAME" --tables=4 --table-size=10000)
sysbench oltp_point_select "${common[@]}" --mysql-port="$dbport" prepare >"$work/prepare.log" 2>&1 \
  || { cat "$work/prepare.log" >&2; exit 1; }
run_sysbench() { # PORT OUT
  sysbench oltp_point_select "${common[@]}" --mysql-port="$1" --db-ps-mode=disable --threads="$threads" \
    --events="$statements" --time=0 --report-interval=0 run >"$2" 2>&1 \
    || { echo "sysbench failed:" >&2; tail -20 "$2" >&2; return 1; }
}
qps() { awk '/queries:/ && /per sec/ { gsub(/[()]/, "", $3); print $3 }' "$1"; }
seconds() { awk '/total time:/ { sub(/s$/, "", $3); print $3 }' "$1"; }
rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$1/status" 2>/dev/null || echo 0; }
export QUARVEL_DATA_DIR="$build/share/quarvel"

# (a) quarvel-capture, its resident memory each minute
mkdir -p "$work/home-a"
port=$(free_port)
archive_args=()
[ "$archive" = yes ] && archive_args=(--archive "$work/archive.sqlite")
XDG_DATA_HOME="$work/home-a" "$capture" --server "127.0.0.1:$dbport" --port "$port" --user "$QUARVEL_TEST_DB_USER" \
  --password "$QUARVEL_TEST_DB_PASSWORD" --quiet --no-stats "${archive_args[@]}" >/dev/null 2>"$work/capture.err" &
qpid=$!
wait_port "$port" || { echo "quarvel-capture did not listen:" >&2; cat "$work/capture.err" >&2; exit 1; }
start_kb=$(rss_kb "$qpid")
( m=0; while sleep 60; do m=$((m + 1)); echo "quarvel-capture minute $m: $(( $(rss_kb "$qpid") / 1024 )) MiB"; done ) &
spid=$!
echo "quarvel-capture: $statements statements${archive_args:+, archived}, resident $((start_kb / 1024)) MiB at start" >&2
run_sysbench "$port" "$work/a.out"
end_kb=$(rss_kb "$qpid")
kill "$spid" 2>/dev/null || true; spid=""
kill -INT "$qpid"; wait "$qpid" || true; qpid=""
qa=$(qps "$work/a.out")
report_headless() {
  printf '\noltp_point_select, %s statements, %s threads, 4 tables x 10000 rows\n' "$statements" "$threads"
  printf '%-34s %s MiB -> %s MiB\n' "quarvel-capture resident" "$((start_kb / 1024))" "$((end_kb / 1024))"
  awk -v a="$start_kb" -v b="$end_kb" -v n="$statements" \
    'BEGIN { printf "%-34s %.2f\n", "quarvel-capture bytes/statement", (b - a) * 1024 / n }'
  printf '%-34s %s\n' "quarvel-capture statements/s" "$qa"
  if [ "$archive" = yes ]; then
    printf '%-34s %s rows, %s MiB\n' "archive" \
      "$(sqlite3 "$work/archive.sqlite" 'SELECT COUNT(*) FROM queries' 2>/dev/null || echo '?')" \
      "$(( $(stat -c %s "$work/archive.sqlite") / 1048576 ))"
  fi
}
if [ "$window" != yes ]; then
  report_headless
  exit 0
fi

# (b) the window with the engine, as long as the headless run took and a half
mkdir -p "$work/home-b"; runtime_dir "$work/runtime"
port=$(free_port)
duration=$(awk -v s="$(seconds "$work/a.out")" 'BEGIN { printf "%d", s * 1.5 + 30 }')
gui_args=(--server "127.0.0.1:$dbport" --user "$QUARVEL_TEST_DB_USER" --password "$QUARVEL_TEST_DB_PASSWORD"
          --port "$port" --duration "$duration" --rss-every 60)
[ "$budget" -gt 0 ] && gui_args+=(--budget "$budget")
start_bench_gui "$gui" "$platform" "$work" "${gui_args[@]}"
wait_port "$port" || { echo "bench_gui did not listen:" >&2; cat "$work/gui.err" >&2; exit 1; }
echo "window: $statements statements ($platform, quits after $duration s)" >&2
run_sysbench "$port" "$work/b.out"
wait "$gpid" || { echo "bench_gui failed:" >&2; tail -20 "$work/gui.err" >&2; exit 1; }
gpid=""

qb=$(qps "$work/b.out")
report_headless
grep '^rss-mb@' "$work/gui.out" | sed 's/^/window /'
rec=$(awk '$1 == "records" { print $2 }' "$work/gui.out")
rel=$(awk '$1 == "released" { print $2 }' "$work/gui.out")
mib=$(awk '$1 == "statement-mib" { print $2 }' "$work/gui.out")
printf '%-34s %s kept, %s released, %s MiB\n' "window statements" "$rec" "$rel" "$mib"
awk -v r="$rec" -v m="$mib" 'BEGIN { if (r > 0) printf "%-34s %.1f\n", "window bytes/kept statement", m * 1048576 / r }'
printf '%-34s %s / %s\n' "qps window / headless" "$qb" "$qa"
awk -v a="$qa" -v b="$qb" 'BEGIN { printf "%-34s %.3f\n", "throughput ratio", b / a }'
