#!/usr/bin/env bash
# The installed program under a virtual X server: the profile dialog accepted with
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
lib=$(cd "$(dirname "$0")/../../scripts/lib" && pwd)/testenv.sh
# shellcheck disable=SC1090
. "$lib"
use_test_server "$work"
export table="e2e_editor_$$" lib SQL_BTN_X=${SQL_BTN_X:-253} SQL_BTN_Y=${SQL_BTN_Y:-21}
write_test_settings "$work/home"

cat > "$work/session.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
program=$1; work=$2
# shellcheck disable=SC1090
. "$lib"
. "$QUARVEL_TEST_DB_ENV"
# sql STATEMENT: runs STATEMENT on the test database, prints the rows.
sql() {
  mariadb --no-defaults -h"$QUARVEL_TEST_DB_HOST" -P"$QUARVEL_TEST_DB_PORT" -u"$QUARVEL_TEST_DB_USER" \
          -p"$QUARVEL_TEST_DB_PASSWORD" --batch --skip-column-names "$QUARVEL_TEST_DB_NAME" -e "$1"
}
sql "DROP TABLE IF EXISTS $table"
start_program "$program" "$work"
accept_profile_dialog || fail "could not accept the profile dialog"

main=$(xdotool search --onlyvisible --name '^Quarvel$' | head -1) || fail "no main window"
xdotool windowactivate --sync "$main" 2>/dev/null || xdotool windowfocus --sync "$main"
eval "$(xdotool getwindowgeometry --shell "$main")"   # X, Y of the window
# The toolbar's SQL editor button; the new tab takes the keyboard.
xdotool mousemove $((X + SQL_BTN_X)) $((Y + SQL_BTN_Y)) click 1
sleep 1.5
xdotool type --delay 20 "CREATE TABLE $QUARVEL_TEST_DB_NAME.$table (id INT, note VARCHAR(20))"
xdotool key F9

for _ in $(seq 1 100); do
  [ -n "$(sql "SHOW TABLES LIKE '$table'")" ] && break
  kill -0 "$pid" 2>/dev/null || fail "the program ended: $(cat "$work/quarvel.out")"
  sleep 0.2
done
[ -n "$(sql "SHOW TABLES LIKE '$table'")" ] || fail "table $table was not created"
sleep 1
import -window root "$work/editor.png"
sql "DROP TABLE $table"
kill "$pid"
wait "$pid" || true
echo "PASS: table $table created from an editor tab; screenshot $work/editor.png"
INNER
chmod +x "$work/session.sh"

xvfb-run -a -s "-screen 0 1280x860x24" "$work/session.sh" "$program" "$work"
