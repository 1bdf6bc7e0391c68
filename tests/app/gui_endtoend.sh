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
: "${QUARVEL_TEST_DB_ENV:?}"
# shellcheck disable=SC1090
source "$QUARVEL_TEST_DB_ENV"

rm -rf "$work"
mkdir -p "$work/home/data/Tessam/Quarvel" "$work/runtime"
chmod 700 "$work/runtime"

port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
# The password is stored as the program stores it: UTF-8 bytes XOR 0xC4, Base64.
password=$(/usr/bin/python3 -c 'import base64,sys; print(base64.b64encode(bytes(b ^ 0xC4 for b in sys.argv[1].encode())).decode())' "$QUARVEL_TEST_DB_PASSWORD")

cat > "$work/home/data/Tessam/Quarvel/settings.ini" <<INI
[General]
Language=english
CheckUpdate=false
AutoOpenNewSession=false
AutoStart=true
StayOnTop=false
MaxLinesFlow=300
MaxSessions=100
AlwaysTunneling=false

[Profiles]
CountProfiles=1
CurrentProfile=0
Profile0\\Name=Test server
Profile0\\DbType=1
Profile0\\ConnectionMethod=0
Profile0\\Host=$QUARVEL_TEST_DB_HOST
Profile0\\Port=$QUARVEL_TEST_DB_PORT
Profile0\\User=$QUARVEL_TEST_DB_USER
Profile0\\Password=$password
Profile0\\Compression=false
Profile0\\Socket=/tmp/mysql.sock
Profile0\\StatusCheck=true
Profile0\\StatusPeriod=1
Profile0\\ProfilerPort=$port
Profile0\\NetworkConnections=false
Profile0\\InteractPassword=false
INI

cat > "$work/session.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
program=$1; work=$2; port=$3
export XDG_DATA_HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
unset QT_QPA_PLATFORM QUARVEL_TEST_AUTOCLOSE
"$program" >"$work/quarvel.out" 2>&1 &
pid=$!
fail() { echo "FAIL: $*"; import -window root "$work/failure.png" || true; kill "$pid" 2>/dev/null || true; exit 1; }

# The profile dialog comes up over the main window; Return is its OK.
win=$(xdotool search --sync --onlyvisible --name '^Connection profiles$' | head -1) || fail "no profile dialog"
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
sleep 0.5
xdotool key --window "$win" Return

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

xvfb-run -a -s "-screen 0 1280x860x24" "$work/session.sh" "$program" "$work" "$port"
