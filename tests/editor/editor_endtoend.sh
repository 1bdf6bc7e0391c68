#!/usr/bin/env bash
# The real program under a virtual X server: the profile dialog accepted with
# a profile for the test server, an SQL editor tab opened from the toolbar, a
# statement typed and run with F9. Checks on the server that the table the
# statement creates exists; leaves editor.png in the work folder.
#
# usage: editor_endtoend.sh QUARVEL_BINARY WORK_DIR
# needs: QUARVEL_TEST_DB_ENV (the test server's address file), QUARVEL_DATA_DIR
# The SQL editor button's place in the window: SQL_BTN_X, SQL_BTN_Y.
set -euo pipefail

program=$1
work=$2
: "${QUARVEL_TEST_DB_ENV:?}"
# shellcheck disable=SC1090
source "$QUARVEL_TEST_DB_ENV"

rm -rf "$work"
mkdir -p "$work/home/data/Tessam/Quarvel" "$work/runtime"
chmod 700 "$work/runtime"
table="e2e_editor_$$"
client=(mariadb --no-defaults -h"$QUARVEL_TEST_DB_HOST" -P"$QUARVEL_TEST_DB_PORT" -u"$QUARVEL_TEST_DB_USER"
        -p"$QUARVEL_TEST_DB_PASSWORD" --batch --skip-column-names "$QUARVEL_TEST_DB_NAME")
"${client[@]}" -e "DROP TABLE IF EXISTS $table"

# The password is stored as the program stores it: UTF-8 bytes XOR 0xC4, Base64.
password=$(/usr/bin/python3 -c 'import base64,sys; print(base64.b64encode(bytes(b ^ 0xC4 for b in sys.argv[1].encode())).decode())' "$QUARVEL_TEST_DB_PASSWORD")
cat > "$work/home/data/Tessam/Quarvel/settings.ini" <<INI
[General]
Language=english
CheckUpdate=false
AutoOpenNewSession=false
AutoStart=false
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
Profile0\\StatusPeriod=3
Profile0\\ProfilerPort=4040
Profile0\\NetworkConnections=false
Profile0\\InteractPassword=false
INI

cat > "$work/session.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
program=$1; work=$2; table=$3; db=$4
export XDG_DATA_HOME=$work/home XDG_RUNTIME_DIR=$work/runtime
unset QT_QPA_PLATFORM QUARVEL_TEST_AUTOCLOSE
"$program" >"$work/quarvel.out" 2>&1 &
pid=$!
fail() { echo "FAIL: $*"; import -window root "$work/failure.png" || true; kill "$pid" 2>/dev/null || true; exit 1; }

win=$(xdotool search --sync --onlyvisible --name '^Connection profiles$' | head -1) || fail "no profile dialog"
# Return is the dialog's OK; pressed again until the dialog is gone.
for _ in $(seq 1 20); do
  xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win" 2>/dev/null || true
  sleep 0.5
  xdotool key --window "$win" Return 2>/dev/null || true
  sleep 0.5
  xdotool search --onlyvisible --name '^Connection profiles$' >/dev/null || break
done
xdotool search --onlyvisible --name '^Connection profiles$' >/dev/null && fail "the profile dialog stays open"

main=$(xdotool search --onlyvisible --name '^Quarvel$' | head -1) || fail "no main window"
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
eval "$(xdotool getwindowgeometry --shell "$main")"   # X, Y of the window
# The toolbar's SQL editor button; the new tab takes the keyboard.
xdotool mousemove $((X + SQL_BTN_X)) $((Y + SQL_BTN_Y)) click 1
sleep 1.5
xdotool type --delay 20 "CREATE TABLE $db.$table (id INT, note VARCHAR(20))"
xdotool key F9

source "$QUARVEL_TEST_DB_ENV"
exists() {
  mariadb --no-defaults -h"$QUARVEL_TEST_DB_HOST" -P"$QUARVEL_TEST_DB_PORT" -u"$QUARVEL_TEST_DB_USER" \
          -p"$QUARVEL_TEST_DB_PASSWORD" --batch --skip-column-names "$db" -e "SHOW TABLES LIKE '$table'"
}
found=0
for _ in $(seq 1 100); do
  if [ -n "$(exists)" ]; then found=1; break; fi
  kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$work/quarvel.out")"
  sleep 0.2
done
[ "$found" = 1 ] || fail "table $table was not created"
sleep 1
import -window root "$work/editor.png"
kill "$pid"
wait "$pid" || true
echo "PASS: table $table created from an editor tab; screenshot $work/editor.png"
INNER
chmod +x "$work/session.sh"

export SQL_BTN_X=${SQL_BTN_X:-253} SQL_BTN_Y=${SQL_BTN_Y:-21}
xvfb-run -a -s "-screen 0 1280x860x24" "$work/session.sh" "$program" "$work" "$table" "$QUARVEL_TEST_DB_NAME"
"${client[@]}" -e "DROP TABLE IF EXISTS $table"
