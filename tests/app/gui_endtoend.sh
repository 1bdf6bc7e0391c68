#!/usr/bin/env bash
# The real program under a virtual X server: a prepared settings.ini with a
# profile for the test server and AutoStart on, the profile dialog accepted by
# pressing Return, then a client through the profiler port. Checks that the
# program stays up and relays exactly what the server answers directly, and
# leaves a screenshot of the statistics page (statistics.png) in the work folder.
#
# usage: gui_endtoend.sh QUARVEL_BINARY WORK_DIR
# needs: QUARVEL_TEST_DB_ENV (the test server's address file), QUARVEL_DATA_DIR
set -euo pipefail

program=$1
work=$2
lib=$(cd "$(dirname "$0")/../../scripts/lib" && pwd)/testenv.sh
# shellcheck disable=SC1090
. "$lib"
use_test_server "$work"
port=$(free_port)
write_test_settings "$work/home" AutoStart=true StatusPeriod=1 ProfilerPort="$port"

cat > "$work/session.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
program=$1; work=$2; port=$3; lib=$4
# shellcheck disable=SC1090
. "$lib"
start_program "$program" "$work"
# The profile dialog comes up over the main window.
accept_profile_dialog || fail "could not accept the profile dialog"

# Auto-start opens the profiler port.
for _ in $(seq 1 100); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
  kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$work/quarvel.out")"
  sleep 0.2
done
(exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || fail "the profiler port $port never opened"

source "$QUARVEL_TEST_DB_ENV"
query="SELECT VERSION(); SELECT 1+1 AS two; SHOW DATABASES LIKE 'quarvel%';"
direct=$(mariadb -h"$QUARVEL_TEST_DB_HOST" -P"$QUARVEL_TEST_DB_PORT" -u"$QUARVEL_TEST_DB_USER" -p"$QUARVEL_TEST_DB_PASSWORD" -e "$query")
relayed=$(mariadb -h127.0.0.1 -P"$port" -u"$QUARVEL_TEST_DB_USER" -p"$QUARVEL_TEST_DB_PASSWORD" -e "$query") || fail "client through the profiler port failed"
[ "$direct" = "$relayed" ] || fail "relayed answer differs: [$relayed] vs [$direct]"
for i in $(seq 1 20); do
  mariadb -h127.0.0.1 -P"$port" -u"$QUARVEL_TEST_DB_USER" -p"$QUARVEL_TEST_DB_PASSWORD" \
          -e "SELECT $i; SELECT COUNT(*) FROM information_schema.tables" "$QUARVEL_TEST_DB_NAME" >/dev/null
done

# A few polls of the server's statistics, then the picture.
sleep 4
kill -0 "$pid" 2>/dev/null || fail "the program ended after the client"
import -window root "$work/statistics.png"
kill "$pid"
wait "$pid" || true
echo "PASS: relayed through port $port; screenshot $work/statistics.png"
INNER
chmod +x "$work/session.sh"

xvfb-run -a -s "-screen 0 1280x860x24" "$work/session.sh" "$program" "$work" "$port" "$lib"
