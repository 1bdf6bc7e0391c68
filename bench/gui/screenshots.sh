#!/usr/bin/env bash
# Pictures of the desktop program at work: the real quarvel under a virtual
# X server, relaying scripts/sample-app.py's sessions to a throwaway server.
# Sessions captured first by quarvel-capture --archive fill the archive tab.
# Leaves statistics.png, flow.png, session.png, archive.png, editor.png and
# explain.png in OUT_DIR.
#
# usage: bench/gui/screenshots.sh OUT_DIR [--build DIR] [--seconds S]
#   --build DIR    build tree holding app/quarvel (default: $QUARVEL_BUILD_DIR, else ./build)
#   --seconds S    traffic before the first picture (default 20)
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
src=$(cd "$here/../.." && pwd)
out=$(mkdir -p "$1" && cd "$1" && pwd); shift
build=${QUARVEL_BUILD_DIR:-$src/build}
seconds=20
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$2; shift 2 ;;
    --seconds) seconds=$2; shift 2 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

work=$(mktemp -d /tmp/quarvel-shots.XXXXXX)
cleanup() {
  "$src/scripts/testdb.sh" stop "$work/db" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
"$src/scripts/testdb.sh" start "$work/db" >/dev/null
# shellcheck disable=SC1091
. "$work/db/env"
export QUARVEL_TEST_DB_HOST QUARVEL_TEST_DB_PORT QUARVEL_TEST_DB_USER QUARVEL_TEST_DB_PASSWORD QUARVEL_TEST_DB_NAME

mkdir -p "$work/home/data/Tessam/Quarvel" "$work/runtime"
chmod 700 "$work/runtime"
port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
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
Profile0\\StatusPeriod=2
Profile0\\ProfilerPort=$port
Profile0\\NetworkConnections=false
Profile0\\InteractPassword=false
INI

# Shared by this script and the one run under the X server.
cat > "$work/helpers.sh" <<'HELPERS'
wait_port() { # PORT
  for _ in $(seq 1 100); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.2
  done
  return 1
}
sample_app() { # PORT PACE LOG: the sample application through PORT, in the background
  /usr/bin/python3 "$src/scripts/sample-app.py" --port "$1" --user "$QUARVEL_TEST_DB_USER" \
    --password "$QUARVEL_TEST_DB_PASSWORD" --database "$QUARVEL_TEST_DB_NAME" --sessions 3 --pace "$2" >"$3" 2>&1 &
}
HELPERS
# shellcheck disable=SC1091
. "$work/helpers.sh"

# Sessions for the archive tab: captured headless into the same archive file.
capport=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
XDG_DATA_HOME="$work/home" QUARVEL_DATA_DIR="$build/share/quarvel" "$build/app/quarvel-capture" --quiet --archive \
  --server "$QUARVEL_TEST_DB_HOST:$QUARVEL_TEST_DB_PORT" --user "$QUARVEL_TEST_DB_USER" \
  --password "$QUARVEL_TEST_DB_PASSWORD" --port "$capport" >"$work/capture.out" 2>&1 &
cpid=$!
wait_port "$capport" || true
sample_app "$capport" 0.2 "$work/sample-capture.out"
capapp=$!
sleep "$seconds"
kill "$capapp" 2>/dev/null || true
wait "$capapp" 2>/dev/null || true
kill -INT "$cpid"
wait "$cpid" || true

cat > "$work/inner.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
program=$1; work=$2; port=$3; out=$4; seconds=$5; src=$6
# shellcheck disable=SC1091
. "$work/helpers.sh"
export XDG_DATA_HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
unset QT_QPA_PLATFORM
"$program" >"$work/quarvel.out" 2>&1 &
pid=$!
win=$(xdotool search --sync --onlyvisible --name '^Connection profiles$' | head -1)
xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win"
sleep 0.5
xdotool key --window "$win" Return
wait_port "$port" || true
sample_app "$port" 0.3 "$work/sample.out"
app=$!
sleep "$seconds"
main=$(xdotool search --onlyvisible --name '^Quarvel' | head -1)
# Keys reach the window only once it has the X focus (there is no window manager).
xdotool windowfocus --sync "$main"
eval "$(xdotool getwindowgeometry --shell "$main")"   # X, Y of the window
click() { xdotool mousemove $((X + $1)) $((Y + $2)) click "${3:-1}"; sleep 1.5; }
click_twice() { xdotool mousemove $((X + $1)) $((Y + $2)) click --repeat 2 --delay 80 1; sleep 2; }
import -window root "$out/statistics.png"
click "$TAB_FLOW_X" "$TAB_Y"
import -window root "$out/flow.png"
click_twice "$FLOW_ROW_X" "$FLOW_ROW_Y"
import -window root "$out/session.png"
click "$ARCHIVE_X" "$ARCHIVE_Y"
import -window root "$out/archive.png"
# An editor tab from the toolbar: a statement typed and run with F9, then its plan
# (typed once the traffic has ended).
kill "$app" 2>/dev/null || true
sleep 2
xdotool windowfocus --sync "$main"
click "$SQL_BTN_X" "$SQL_BTN_Y"
click "$EDITOR_X" "$EDITOR_Y"
for line in "SELECT c.city, COUNT(DISTINCT c.id) AS customers, COUNT(o.id) AS orders" \
            "FROM $QUARVEL_TEST_DB_NAME.customers c" \
            "LEFT JOIN $QUARVEL_TEST_DB_NAME.orders o ON o.customer_id = c.id" \
            "GROUP BY c.city ORDER BY orders DESC"; do
  xdotool type --window "$main" --delay 40 "$line"
  xdotool key --window "$main" Return
done
# The window colours the text as it comes; let it catch up before running.
sleep 3
xdotool key --window "$main" F9
sleep 3
import -window root "$out/editor.png"
click "$EXPLAIN_BTN_X" "$EXPLAIN_BTN_Y"
sleep 2
import -window root "$out/explain.png"
kill "$app" 2>/dev/null || true
kill "$pid"
wait "$pid" || true
INNER
chmod +x "$work/inner.sh"

# Positions in the 1200x800 window: the flow tab, the first row of the flow
# table, the archive button, the toolbar's SQL editor button, an editor tab's
# Explain button and its text.
export TAB_FLOW_X=${TAB_FLOW_X:-150} TAB_Y=${TAB_Y:-58} FLOW_ROW_X=${FLOW_ROW_X:-300} FLOW_ROW_Y=${FLOW_ROW_Y:-335}
export ARCHIVE_X=${ARCHIVE_X:-345} ARCHIVE_Y=${ARCHIVE_Y:-21}
export SQL_BTN_X=${SQL_BTN_X:-253} SQL_BTN_Y=${SQL_BTN_Y:-21} EXPLAIN_BTN_X=${EXPLAIN_BTN_X:-463} EXPLAIN_BTN_Y=${EXPLAIN_BTN_Y:-89}
export EDITOR_X=${EDITOR_X:-600} EDITOR_Y=${EDITOR_Y:-200}
QUARVEL_DATA_DIR="$build/share/quarvel" xvfb-run -a -s "-screen 0 1280x860x24" \
  "$work/inner.sh" "$build/app/quarvel" "$work" "$port" "$out" "$seconds" "$src"
for f in statistics flow session archive editor explain; do
  convert "$out/$f.png" -crop 1200x800+40+30 +repage -colors 256 PNG8:"$out/$f.png" 2>/dev/null || true
done
ls -la "$out"
