#!/usr/bin/env bash
# Overhead of the profiler's relay, measured with sysbench in one run.
#
# Starts a throwaway MariaDB server, prepares sysbench tables, then runs each
# workload for the same time and thread count
#   (a) directly against the server,
#   (b) through haproxy in TCP mode (the reference relay),
#   (c) through quarvel-capture --quiet,
#   (d) optionally through the quarvel-capture of a second build tree (--baseline),
# and prints queries per second, the ratios c/a and c/b, sysbench's mean and
# 95th percentile latency, the statements sysbench executed against those
# quarvel-capture captured, and the mean captured duration against the
# client's mean latency per statement through quarvel-capture.
#
# usage: bench/proxy/run.sh [--time S] [--threads N] [--tables N] [--table-size N]
#                           [--build DIR] [--baseline DIR] [--workloads LIST]
#   --time S          seconds per run (default 20)
#   --threads N       sysbench threads (default 4)
#   --tables N        sysbench tables (default 4)
#   --table-size N    rows per table (default 10000)
#   --build DIR       build tree holding app/quarvel-capture (default: $QUARVEL_BUILD_DIR,
#                     else ./build); the program is built there when missing
#   --baseline DIR    a second build tree (an earlier version, say) whose quarvel-capture
#                     runs as path (d) in the same run, for before/after figures
#   --workloads LIST  comma-separated among point_select_disable, point_select_auto,
#                     read_write_disable, read_write_auto
#                     (default point_select_disable,point_select_auto,read_write_disable)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
time_s=20
threads=4
tables=4
table_size=10000
build=${QUARVEL_BUILD_DIR:-$src/build}
workloads=point_select_disable,point_select_auto,read_write_disable
baseline=""
# shellcheck disable=SC1091
. "$src/scripts/lib/testenv.sh"
parse_options --time=time_s --threads=threads --tables=tables --table-size=table_size --build=build \
  --baseline=baseline --workloads=workloads -- "$@"
for v in "$time_s" "$threads" "$tables" "$table_size"; do
  [[ "$v" =~ ^[1-9][0-9]*$ ]] || { echo "not a positive number: $v" >&2; exit 2; }
done

capture="$build/app/quarvel-capture"
if [ ! -x "$capture" ]; then
  echo "building quarvel-capture in $build ..." >&2
  cmake -S "$src" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j2 --target quarvel-capture >/dev/null
fi
if [ -n "$baseline" ] && [ ! -x "$baseline/app/quarvel-capture" ]; then
  echo "no quarvel-capture in $baseline/app" >&2; exit 2
fi
haproxy_bin=$(command -v haproxy || echo /usr/sbin/haproxy)
[ -x "$haproxy_bin" ] || { echo "haproxy not found: run scripts/install-deps.sh" >&2; exit 1; }
command -v sysbench >/dev/null || { echo "sysbench not found: run scripts/install-deps.sh" >&2; exit 1; }

work=$(mktemp -d /tmp/quarvel-bench.XXXXXX)
hapid=""
qpid=""
cleanup() {
  [ -n "$qpid" ] && kill "$qpid" 2>/dev/null || true
  [ -n "$hapid" ] && kill "$hapid" 2>/dev/null || true
  stop_throwaway_db "$work"
}
trap cleanup EXIT

start_throwaway_db "$work"
dbport=$QUARVEL_TEST_DB_PORT
common=(--mysql-host=127.0.0.1 --mysql-user="$QUARVEL_TEST_DB_USER" --mysql-password="$QUARVEL_TEST_DB_PASSWORD"
        --mysql-db="$QUARVEL_TEST_DB_NAME" --tables="$tables" --table-size="$table_size")

echo "preparing $tables tables of $table_size rows ..." >&2
sysbench oltp_read_write "${common[@]}" --mysql-port="$dbport" prepare >"$work/prepare.log" 2>&1 \
  || { cat "$work/prepare.log" >&2; exit 1; }

# haproxy: plain TCP relay
haport=$(free_port)
cat >"$work/haproxy.cfg" <<CFG
global
    maxconn 2000
defaults
    mode tcp
    timeout connect 5s
    timeout client 1h
    timeout server 1h
listen mysql
    bind 127.0.0.1:$haport
    server db 127.0.0.1:$dbport
CFG
"$haproxy_bin" -f "$work/haproxy.cfg" -db >"$work/haproxy.log" 2>&1 &
hapid=$!
wait_port "$haport" || { echo "haproxy did not start:" >&2; cat "$work/haproxy.log" >&2; exit 1; }

clk=$(getconf CLK_TCK)
cpu_ticks() { # user + system ticks of a process, its ended threads included
  awk '{ print $14 + $15 }' "/proc/$1/stat"
}
# run_sysbench NAME MODE PORT: runs one workload, leaves its output in $work/NAME.out
run_sysbench() {
  local test=$1 mode=$2 port=$3 out=$4
  sysbench "$test" "${common[@]}" --mysql-port="$port" --db-ps-mode="$mode" --threads="$threads" \
    --time="$time_s" --report-interval=0 --percentile=95 run >"$out" 2>&1 \
    || { echo "sysbench failed:" >&2; tail -20 "$out" >&2; return 1; }
}
# field FILE: qps avg_ms p95_ms total_queries events
field() {
  awk '
    /queries:/ && /per sec/ { gsub(/[()]/, "", $3); qps = $3 }
    /^ *total:/ && !tot { tot = $2 }
    /transactions:/ { ev = $2 }
    /avg:/ { avg = $2 }
    /95th percentile:/ { p95 = $3 }
    END { printf "%s %s %s %s %s\n", qps, avg, p95, tot, ev }' "$1"
}

captured_cpu=0
# run_capture BUILD TEST MODE PREFIX: one workload through BUILD's quarvel-capture;
# leaves PREFIX.quarvel (sysbench) and PREFIX.capture (report), sets captured_cpu (ticks)
run_capture() {
  local bdir=$1 test=$2 mode=$3 prefix=$4 qport qcpu0
  qport=$(free_port)
  mkdir -p "$work/home"
  XDG_DATA_HOME="$work/home" QUARVEL_DATA_DIR="$bdir/share/quarvel" \
    "$bdir/app/quarvel-capture" --server "127.0.0.1:$dbport" --port "$qport" --user "$QUARVEL_TEST_DB_USER" \
    --password "$QUARVEL_TEST_DB_PASSWORD" --quiet >"$prefix.capture" 2>"$prefix.capture.err" &
  qpid=$!
  wait_port "$qport" || { echo "quarvel-capture did not listen:" >&2; cat "$prefix.capture.err" >&2; exit 1; }
  qcpu0=$(cpu_ticks "$qpid")
  run_sysbench "$test" "$mode" "$qport" "$prefix.quarvel"
  captured_cpu=$(( $(cpu_ticks "$qpid") - qcpu0 ))
  kill -INT "$qpid"
  wait "$qpid" || { echo "quarvel-capture exited with $?:" >&2; cat "$prefix.capture.err" >&2; exit 1; }
  qpid=""
}

printf '\nsysbench %s s, %s threads, %s tables x %s rows; server %s\n' "$time_s" "$threads" "$tables" "$table_size" \
  "$(mariadb --no-defaults -h127.0.0.1 -P"$dbport" -u"$QUARVEL_TEST_DB_USER" -p"$QUARVEL_TEST_DB_PASSWORD" -N -e 'SELECT VERSION()')"
printf '%-22s %-8s %10s %9s %9s %10s\n' workload path qps avg_ms p95_ms queries

IFS=, read -r -a wl <<<"$workloads"
summary_lines=()
for w in "${wl[@]}"; do
  case "$w" in
    point_select_disable) test=oltp_point_select; mode=disable ;;
    point_select_auto) test=oltp_point_select; mode=auto ;;
    read_write_disable) test=oltp_read_write; mode=disable ;;
    read_write_auto) test=oltp_read_write; mode=auto ;;
    *) echo "unknown workload $w" >&2; exit 2 ;;
  esac

  run_sysbench "$test" "$mode" "$dbport" "$work/$w.direct"
  hcpu0=$(cpu_ticks "$hapid")
  run_sysbench "$test" "$mode" "$haport" "$work/$w.haproxy"
  hcpu=$(( $(cpu_ticks "$hapid") - hcpu0 ))

  run_capture "$build" "$test" "$mode" "$work/$w"
  qcpu=$captured_cpu
  if [ -n "$baseline" ]; then
    run_capture "$baseline" "$test" "$mode" "$work/$w.base"
    dcpu=$captured_cpu
  fi

  read -r qa avga p95a tota eva <<<"$(field "$work/$w.direct")"
  read -r qb avgb p95b totb evb <<<"$(field "$work/$w.haproxy")"
  read -r qc avgc p95c totc evc <<<"$(field "$work/$w.quarvel")"
  printf '%-22s %-8s %10s %9s %9s %10s\n' "$w" direct "$qa" "$avga" "$p95a" "$tota"
  printf '%-22s %-8s %10s %9s %9s %10s\n' "" haproxy "$qb" "$avgb" "$p95b" "$totb"
  printf '%-22s %-8s %10s %9s %9s %10s\n' "" quarvel "$qc" "$avgc" "$p95c" "$totc"
  if [ -n "$baseline" ]; then
    read -r qd avgd p95d totd evd <<<"$(field "$work/$w.base.quarvel")"
    printf '%-22s %-8s %10s %9s %9s %10s\n' "" baseline "$qd" "$avgd" "$p95d" "$totd"
  fi

  captured=$(awk -F'\t' '$1 == "# statements" { print $2 }' "$work/$w.capture")
  sessions=$(awk -F'\t' '$1 == "# sessions" { print $2 }' "$work/$w.capture")
  meanq=$(awk -F'\t' '$1 == "# mean duration ms" { print $2 }' "$work/$w.capture")
  # the client's mean latency per statement: event latency spread over the statements of an event
  client=$(awk -v a="$avgc" -v e="$evc" -v q="$totc" 'BEGIN { if (q > 0) printf "%.3f", a * e / q; else print "n/a" }')
  summary_lines+=("$(awk -v w="$w" -v qa="$qa" -v qb="$qb" -v qc="$qc" -v tot="$totc" -v totb="$totb" -v cap="$captured" \
      -v ses="$sessions" -v mq="$meanq" -v cl="$client" -v hc="$hcpu" -v qcp="$qcpu" -v clk="$clk" 'BEGIN {
        printf "%-22s c/a %.3f  c/b %.3f  statements sysbench %d, captured %d (%+d) in %d sessions\n", w, qc / qa, qc / qb, tot, cap, cap - tot, ses
        printf "%-22s mean captured %.3f ms vs client %.3f ms per statement;", "", mq, cl
        printf "  relay CPU per 1000 statements: haproxy %.1f ms, quarvel %.1f ms\n", hc * 1000 / clk / totb * 1000, qcp * 1000 / clk / tot * 1000 }')")
  if [ -n "$baseline" ]; then
    capd=$(awk -F'\t' '$1 == "# statements" { print $2 }' "$work/$w.base.capture")
    summary_lines+=("$(awk -v w="$w" -v qb="$qb" -v qd="$qd" -v tot="$totd" -v cap="$capd" -v dcp="$dcpu" -v clk="$clk" 'BEGIN {
        printf "%-22s baseline: d/b %.3f, captured %d of %d, CPU per 1000 statements %.1f ms\n", "", qd / qb, cap, tot, dcp * 1000 / clk / tot * 1000 }')")
  fi
done

printf '\n'
for l in "${summary_lines[@]}"; do echo "$l"; done
printf '\n(latencies in ms from sysbench, per event; an oltp_read_write event is a transaction of several statements.\n'
printf ' With --db-ps-mode=auto the capture also records each COM_STMT_PREPARE that sysbench sends when a\n'
printf ' thread starts (one per table and statement kind), which sysbench does not count as a query.)\n'
