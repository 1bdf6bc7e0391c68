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
table="e2e_editor_$$"
client=(mariadb --no-defaults -h"$QUARVEL_TEST_DB_HOST" -P"$QUARVEL_TEST_DB_PORT" -u"$QUARVEL_TEST_DB_USER"
        -p"$QUARVEL_TEST_DB_PASSWORD" --batch --skip-column-names "$QUARVEL_TEST_DB_NAME")
"${client[@]}" -e "DROP TABLE IF EXISTS $table"

write_test_settings "$work/home"

cat > "$work/session.sh" <<'INNER'
#!/usr/bin/env bash
set -euo pipefail
program=$1; work=$2; table=$3; db=$4; lib=$5
# shellcheck disable=SC1090
. "$lib"
start_program "$program" "$work"
accept_profile_dialog || fail "could not accept the profile dialog"

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
xvfb-run -a -s "-screen 0 1280x860x24" "$work/session.sh" "$program" "$work" "$table" "$QUARVEL_TEST_DB_NAME" "$lib"
"${client[@]}" -e "DROP TABLE IF EXISTS $table"
