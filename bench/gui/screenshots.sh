#!/usr/bin/env bash
# Pictures of the desktop program at work: the real quarvel under a virtual
# X server, relaying scripts/sample-app.py's sessions to a throwaway server.
# Sessions captured first by quarvel-capture --archive fill the archive tab.
# Leaves statistics.png, patterns.png, flow.png, session.png, archive.png,
# editor.png and explain.png in OUT_DIR.
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
# shellcheck disable=SC1091
. "$src/scripts/lib/testenv.sh"
parse_options --build=build --seconds=seconds -- "$@"

work=$(mktemp -d /tmp/quarvel-shots.XXXXXX)
trap 'stop_throwaway_db "$work"' EXIT
start_throwaway_db "$work"
runtime_dir "$work/runtime"
port=$(free_port)
write_test_settings "$work/home" AutoStart=true StatusPeriod=2 ProfilerPort="$port"

# Shared by this script and the one run under the X server.
cat > "$work/helpers.sh" <<'HELPERS'
# shellcheck disable=SC1091
. "$src/scripts/lib/testenv.sh"
sample_app() { # PORT PACE LOG: the sample application through PORT, in the background
  /usr/bin/python3 "$src/scripts/sample-app.py" --port "$1" --user "$QUARVEL_TEST_DB_USER" \
    --password "$QUARVEL_TEST_DB_PASSWORD" --database "$QUARVEL_TEST_DB_NAME" --sessions 3 --pace "$2" >"$3" 2>&1 &
}
HELPERS
# shellcheck disable=SC1091
. "$work/helpers.sh"

# Sessions for the archive tab: captured headless into the same archive file.
capport=$(free_port)
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
start_program "$program" "$work"
accept_profile_dialog
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
# The statement patterns by total time, the profiler's lists widened over the server's.
click "$PATTERNS_TAB_X" "$PATTERNS_TAB_Y"
xdotool mousemove $((X + TOP_SPLIT_X)) $((Y + TOP_SPLIT_Y)) mousedown 1 mousemove $((X + 60)) $((Y + TOP_SPLIT_Y)) \
  sleep 0.3 mouseup 1
sleep 1.5
import -window root "$out/patterns.png"
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
# table, the profiler's Patterns tab and the handle between the two top lists,
# the archive button, the toolbar's SQL editor button, an editor tab's Explain
# button and its text.
export TAB_FLOW_X=${TAB_FLOW_X:-150} TAB_Y=${TAB_Y:-58} FLOW_ROW_X=${FLOW_ROW_X:-300} FLOW_ROW_Y=${FLOW_ROW_Y:-335}
export PATTERNS_TAB_X=${PATTERNS_TAB_X:-935} PATTERNS_TAB_Y=${PATTERNS_TAB_Y:-605}
export TOP_SPLIT_X=${TOP_SPLIT_X:-717} TOP_SPLIT_Y=${TOP_SPLIT_Y:-690}
export ARCHIVE_X=${ARCHIVE_X:-345} ARCHIVE_Y=${ARCHIVE_Y:-21}
export SQL_BTN_X=${SQL_BTN_X:-253} SQL_BTN_Y=${SQL_BTN_Y:-21} EXPLAIN_BTN_X=${EXPLAIN_BTN_X:-463} EXPLAIN_BTN_Y=${EXPLAIN_BTN_Y:-89}
export EDITOR_X=${EDITOR_X:-600} EDITOR_Y=${EDITOR_Y:-200}
QUARVEL_DATA_DIR="$build/share/quarvel" xvfb-run -a -s "-screen 0 1280x860x24" \
  "$work/inner.sh" "$build/app/quarvel" "$work" "$port" "$out" "$seconds" "$src"
for f in statistics patterns flow session archive editor explain; do
  convert "$out/$f.png" -crop 1200x800+40+30 +repage -colors 256 PNG8:"$out/$f.png" 2>/dev/null || true
done
ls -la "$out"
