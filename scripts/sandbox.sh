#!/usr/bin/env bash
# A throwaway MariaDB server and a sample application, for trying the profiler
# without a database server of one's own.
#
#   sandbox.sh needed  exit 0 when nothing answers at the server of the current
#                      profile in settings.ini (1 when something does)
#   sandbox.sh start   starts the sandbox server (its own data folder, a free
#                      loopback port), makes a "Sandbox" profile current in
#                      settings.ini and starts the sample application against
#                      the profiler port; returns after setup and prints PIDs
#   sandbox.sh stop    stops the sample application and the sandbox server
#   sandbox.sh status  exit 0 when the sandbox server runs; prints its state
#   sandbox.sh env     prints the state (SANDBOX_PORT=..., shell syntax)
#   sandbox.sh profiler-port  prints the profiler port of the current profile
#
# Everything lives in $XDG_DATA_HOME/data/Tessam/Quarvel/sandbox (~/.local/share
# when XDG_DATA_HOME is unset), beside settings.ini. A server the user runs is
# never touched: the sandbox server has its own data folder, socket and port.
set -euo pipefail

PY=/usr/bin/python3
HERE=$(cd "$(dirname "$0")" && pwd)
DATA_HOME=${XDG_DATA_HOME:-$HOME/.local/share}
APP_DIR="$DATA_HOME/data/Tessam/Quarvel"
SETTINGS="$APP_DIR/settings.ini"
BOX="$APP_DIR/sandbox"
STATE="$BOX/state"
CREDS="$BOX/credentials"
PROFILER_PORT=${SANDBOX_PROFILER_PORT:-4040}
DB_NAME=shop
DB_USER=sandbox

die() { echo "sandbox: $*" >&2; exit 1; }

find_bin() {
  for b in "$@"; do
    command -v "$b" >/dev/null 2>&1 && { command -v "$b"; return 0; }
    [ -x "/usr/sbin/$b" ] && { echo "/usr/sbin/$b"; return 0; }
  done
  return 1
}

# Reads the current profile of settings.ini (QSettings INI) and prints
# "tcp HOST PORT" or "socket PATH", as the program would connect; with the
# argument "profiler", its profiler port instead.
current_server() {
  "$PY" - "$SETTINGS" "${1:-}" <<'PY'
import sys
path = sys.argv[1]
profiler = sys.argv[2] == "profiler"
def unquote(v):
    v = v.strip()
    if len(v) >= 2 and v[0] == '"' and v[-1] == '"':
        v = v[1:-1].replace('\\"', '"').replace('\\\\', '\\')
    return v
prof = {}
try:
    section = None
    with open(path, encoding="utf-8", errors="replace") as f:
        for line in f:
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
            elif section == "Profiles" and "=" in line:
                k, v = line.split("=", 1)
                prof[k.strip()] = unquote(v)
except OSError:
    pass
def num(v, default=0):
    try:
        return int(v)
    except (TypeError, ValueError):
        return default
count = num(prof.get("CountProfiles"))
cur = num(prof.get("CurrentProfile"))
if count == 0 or not 0 <= cur < count:
    # No profile yet: the program starts with localhost:3306 and port 4040.
    print(4040 if profiler else "tcp localhost 3306")
    sys.exit(0)
get = lambda key: prof.get("Profile%d\\%s" % (cur, key), "")
if profiler:
    print(num(get("ProfilerPort")) or 4040)
elif num(get("ConnectionMethod")) == 1:
    print("socket " + get("Socket"))
else:
    print("tcp %s %d" % (get("Host") or "localhost", num(get("Port")) or 3306))
PY
}

# Exit 0 when something accepts connections at the given server.
answers() {
  "$PY" - "$@" <<'PY'
import socket, sys
kind = sys.argv[1]
try:
    if kind == "socket":
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.settimeout(2)
        s.connect(sys.argv[2])
    else:
        s = socket.create_connection((sys.argv[2], int(sys.argv[3])), timeout=2)
    s.close()
except (OSError, ValueError, IndexError):
    sys.exit(1)
sys.exit(0)
PY
}

free_port() {
  "$PY" - "${1:-0}" <<'PY'
import socket, sys
want = int(sys.argv[1])
for port in ([want] if want else []) + [0]:
    s = socket.socket()
    # As the server binds: a port whose last connections linger in TIME_WAIT is free.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind(("127.0.0.1", port))
        print(s.getsockname()[1])
        break
    except OSError:
        pass
    finally:
        s.close()
PY
}

random_secret() {
  "$PY" -c 'import secrets; print(secrets.token_urlsafe(15))'
}

load_state() {
  SANDBOX_SERVER_PID=""; SANDBOX_APP_PID=""; SANDBOX_PORT=""
  # shellcheck disable=SC1090
  [ -f "$STATE" ] && . "$STATE"
  return 0
}

# True when PID runs and its command line mentions WORD (guards against PIDs
# that were reused by an unrelated process since we wrote them down).
ours() {
  local pid=$1 word=$2
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
  tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null | grep -qF -- "$word"
}

stop_pid() {
  local pid=$1
  kill "$pid" 2>/dev/null || return 0
  for _ in $(seq 1 150); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null || true
}

server_running() {
  load_state
  ours "$SANDBOX_SERVER_PID" "$BOX/data"
}

# Writes (or updates) the "Sandbox" profile and makes it current, keeping
# every other key of settings.ini as it is.
write_profile() {
  mkdir -p "$APP_DIR"
  SANDBOX_SETTINGS="$SETTINGS" SANDBOX_PORT="$SANDBOX_PORT" SANDBOX_USER="$DB_USER" \
  SANDBOX_PASSWORD="$SANDBOX_PASSWORD" SANDBOX_PROFILER_PORT="$PROFILER_PORT" SANDBOX_DB="$DB_NAME" \
  "$PY" - <<'PY'
import base64, os, tempfile
path = os.environ["SANDBOX_SETTINGS"]

def encode(text):
    # As the program stores passwords: UTF-8 bytes XOR 0xC4, base64.
    return base64.b64encode(bytes(b ^ 0xC4 for b in text.encode("utf-8"))).decode("ascii") if text else ""

def escape(value):
    # QSettings' own INI form of a string value.
    out = value.replace("\\", "\\\\").replace('"', '\\"')
    if any(c in value for c in ";,=") or value != value.strip():
        out = '"' + out + '"'
    return out

def unquote(v):
    v = v.strip()
    if len(v) >= 2 and v[0] == '"' and v[-1] == '"':
        v = v[1:-1].replace('\\"', '"').replace('\\\\', '\\')
    return v

lines = []
if os.path.exists(path):
    with open(path, encoding="utf-8") as f:
        lines = f.read().splitlines()

# Locate [Profiles]; keep its entries in order.
start = end = None
for i, line in enumerate(lines):
    s = line.strip()
    if s.startswith("[") and s.endswith("]"):
        if start is not None and end is None:
            end = i
        if s == "[Profiles]":
            start, end = i, None
if start is not None and end is None:
    end = len(lines)
entries = []
if start is not None:
    for line in lines[start + 1:end]:
        if "=" in line:
            k, v = line.split("=", 1)
            entries.append([k.strip(), v.strip()])
values = {k: v for k, v in entries}

def num(v):
    try:
        return int(unquote(v or ""))
    except (TypeError, ValueError):
        return 0

count = num(values.get("CountProfiles"))
index = next((i for i in range(count) if unquote(values.get("Profile%d\\Name" % i, "")) == "Sandbox"), count)
if index == count:
    count += 1

profile = [
    ("Name", escape("Sandbox")), ("DbType", "1"), ("ConnectionMethod", "0"),
    ("Host", escape("127.0.0.1")), ("Port", os.environ["SANDBOX_PORT"]),
    ("User", escape(os.environ["SANDBOX_USER"])),
    ("Password", escape(encode(os.environ["SANDBOX_PASSWORD"]))),
    ("Compression", "false"), ("Socket", escape("/tmp/mysql.sock")), ("StatusCheck", "true"),
    ("StatusPeriod", "3"), ("ProfilerPort", os.environ["SANDBOX_PROFILER_PORT"]),
    ("NetworkConnections", "false"), ("InteractPassword", "false"),
]
def put(key, value):
    for e in entries:
        if e[0] == key:
            e[1] = value
            return
    entries.append([key, value])
put("CountProfiles", str(count))
put("CurrentProfile", str(index))
for key, value in profile:
    put("Profile%d\\%s" % (index, key), value)

section = ["[Profiles]"] + ["%s=%s" % (k, v) for k, v in entries]
if start is None:
    if lines and lines[-1].strip():
        lines.append("")
    lines += section
else:
    lines[start:end] = section + ([""] if end < len(lines) else [])

fd, tmp = tempfile.mkstemp(prefix=".settings.", dir=os.path.dirname(path))
with os.fdopen(fd, "w", encoding="utf-8") as f:
    f.write("\n".join(lines) + "\n")
os.replace(tmp, path)
print("profile Sandbox (#%d) is current in %s" % (index, path))
PY
}

start() {
  MYSQLD=$(find_bin mariadbd mysqld) || die "mariadbd not found: run scripts/install-deps.sh"
  INSTALLDB=$(find_bin mariadb-install-db mysql_install_db) || die "mariadb-install-db not found"
  CLIENT=$(find_bin mariadb mysql) || die "the mariadb client is not found"
  "$PY" -c 'import pymysql' 2>/dev/null || die "python3-pymysql is missing: run scripts/install-deps.sh"
  mkdir -p "$BOX"
  chmod 700 "$BOX"
  local userarg=()
  [ "$(id -u)" -eq 0 ] && userarg=(--user=root)

  if server_running; then
    echo "sandbox server already runs (pid $SANDBOX_SERVER_PID, port $SANDBOX_PORT)"
  else
    local fresh=0
    if [ ! -d "$BOX/data/mysql" ]; then
      rm -rf "$BOX/data"
      mkdir -p "$BOX/data"
      "$INSTALLDB" --no-defaults --datadir="$BOX/data" "${userarg[@]}" \
          --auth-root-authentication-method=normal --skip-test-db >"$BOX/install.log" 2>&1 \
          || { cat "$BOX/install.log" >&2; die "could not create the sandbox data folder"; }
      fresh=1
      umask 077
      printf 'SANDBOX_ROOT_PASSWORD=%s\nSANDBOX_PASSWORD=%s\n' "$(random_secret)" "$(random_secret)" >"$CREDS"
    fi
    [ -f "$CREDS" ] || die "$CREDS is missing; remove $BOX to start afresh"
    # shellcheck disable=SC1090
    . "$CREDS"
    local sock="$BOX/mysqld.sock"
    ( umask 077; printf '[client]\nuser=root\npassword=%s\nsocket=%s\n' "$SANDBOX_ROOT_PASSWORD" "$sock" >"$BOX/client.cnf" )
    local ok=0 pid="" port=""
    for _ in 1 2 3 4 5; do
      load_state
      port=$(free_port "${SANDBOX_PORT:-0}")
      [ -n "$port" ] || die "no free loopback port"
      "$MYSQLD" --no-defaults --datadir="$BOX/data" --socket="$sock" --port="$port" \
          --bind-address=127.0.0.1 "${userarg[@]}" --pid-file="$BOX/mysqld.pid" \
          --log-error="$BOX/error.log" --skip-name-resolve --innodb-buffer-pool-size=32M \
          --max-connections=100 >/dev/null 2>&1 </dev/null &
      pid=$!
      for _ in $(seq 1 300); do
        if [ $fresh = 1 ]; then
          "$CLIENT" --no-defaults -uroot -S "$sock" -e 'SELECT 1' >/dev/null 2>&1 && { ok=1; break; }
        else
          "$CLIENT" --defaults-file="$BOX/client.cnf" -e 'SELECT 1' >/dev/null 2>&1 && { ok=1; break; }
        fi
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      [ $ok = 1 ] && break
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
      SANDBOX_PORT=""
    done
    [ $ok = 1 ] || { tail -20 "$BOX/error.log" >&2 || true; die "the sandbox server did not start"; }
    SANDBOX_PORT=$port
    SANDBOX_SERVER_PID=$pid
    if [ $fresh = 1 ]; then
      local host; host=$(hostname)
      "$CLIENT" --no-defaults -uroot -S "$sock" <<SQL
DROP USER IF EXISTS ''@'localhost';
DROP USER IF EXISTS ''@'${host}';
DROP USER IF EXISTS 'root'@'${host}';
ALTER USER 'root'@'localhost' IDENTIFIED BY '${SANDBOX_ROOT_PASSWORD}';
CREATE USER '${DB_USER}'@'%' IDENTIFIED BY '${SANDBOX_PASSWORD}';
CREATE USER '${DB_USER}'@'localhost' IDENTIFIED BY '${SANDBOX_PASSWORD}';
GRANT ALL ON *.* TO '${DB_USER}'@'%';
GRANT ALL ON *.* TO '${DB_USER}'@'localhost';
CREATE DATABASE ${DB_NAME};
FLUSH PRIVILEGES;
SQL
    fi
    SANDBOX_APP_PID=""
    save_state
    echo "sandbox server: 127.0.0.1:$SANDBOX_PORT (pid $SANDBOX_SERVER_PID), data in $BOX/data"
  fi
  # shellcheck disable=SC1090
  . "$CREDS"
  write_profile

  load_state
  if ours "$SANDBOX_APP_PID" sample-app.py; then
    echo "sample application already runs (pid $SANDBOX_APP_PID)"
  else
    SANDBOX_PASSWORD="$SANDBOX_PASSWORD" setsid "$PY" "$HERE/sample-app.py" --host 127.0.0.1 \
        --port "$PROFILER_PORT" --user "$DB_USER" --database "$DB_NAME" \
        >"$BOX/sample-app.log" 2>&1 </dev/null &
    SANDBOX_APP_PID=$!
    save_state
    echo "sample application: pid $SANDBOX_APP_PID, sends statements to 127.0.0.1:$PROFILER_PORT (log $BOX/sample-app.log)"
  fi
}

save_state() {
  ( umask 077
    printf 'SANDBOX_PORT=%s\nSANDBOX_SERVER_PID=%s\nSANDBOX_APP_PID=%s\nSANDBOX_SOCKET=%s\nSANDBOX_USER=%s\nSANDBOX_DB=%s\nSANDBOX_PROFILER_PORT=%s\nSANDBOX_DIR=%s\n' \
      "$SANDBOX_PORT" "$SANDBOX_SERVER_PID" "$SANDBOX_APP_PID" "$BOX/mysqld.sock" "$DB_USER" "$DB_NAME" \
      "$PROFILER_PORT" "$BOX" >"$STATE.tmp" && mv "$STATE.tmp" "$STATE" )
}

stop() {
  load_state
  if ours "$SANDBOX_APP_PID" sample-app.py; then
    stop_pid "$SANDBOX_APP_PID"
    echo "sample application stopped (pid $SANDBOX_APP_PID)"
  fi
  if ours "$SANDBOX_SERVER_PID" "$BOX/data"; then
    stop_pid "$SANDBOX_SERVER_PID"
    echo "sandbox server stopped (pid $SANDBOX_SERVER_PID)"
  fi
  if [ -f "$STATE" ]; then
    SANDBOX_APP_PID=""; SANDBOX_SERVER_PID=""
    save_state
  fi
}

case "${1:-}" in
needed)
  # shellcheck disable=SC2046
  if answers $(current_server); then exit 1; else exit 0; fi
  ;;
start) start ;;
stop) stop ;;
status)
  if server_running; then
    echo "sandbox server runs: 127.0.0.1:$SANDBOX_PORT (pid $SANDBOX_SERVER_PID)"
    if ours "$SANDBOX_APP_PID" sample-app.py; then echo "sample application runs (pid $SANDBOX_APP_PID)"; fi
    exit 0
  fi
  echo "sandbox server is not running"
  exit 1
  ;;
env)
  [ -f "$STATE" ] && cat "$STATE"
  ;;
profiler-port) current_server profiler ;;
*)
  echo "usage: $0 needed|start|stop|status|env|profiler-port" >&2
  exit 2
  ;;
esac
