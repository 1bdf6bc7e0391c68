#!/usr/bin/env bash
# A throwaway MariaDB server for the tests.
#   testdb.sh start DIR   creates DIR, a data directory in it, starts mariadbd on a
#                         free loopback port and writes DIR/env (shell KEY=VALUE):
#                         QUARVEL_TEST_DB_HOST, _PORT, _SOCKET, _USER, _PASSWORD,
#                         _ROOT_PASSWORD, _NAME (a database the user owns), _PID
#   testdb.sh stop DIR    stops that server and removes DIR
#   testdb.sh restart DIR stops that server and starts it again on the same
#                         port and data (clients see their connections drop)
#   testdb.sh env DIR     prints DIR/env
set -euo pipefail
cmd=${1:-}; dir=${2:-}
[ -n "$cmd" ] && [ -n "$dir" ] || { echo "usage: $0 start|stop|restart|env DIR" >&2; exit 2; }

# The server runs as whoever runs the tests; as root it has to be told so.
server_user=(); [ "$(id -u)" -eq 0 ] && server_user=(--user=root)

find_bin() { for b in "$@"; do command -v "$b" >/dev/null 2>&1 && { command -v "$b"; return; }; [ -x "/usr/sbin/$b" ] && { echo "/usr/sbin/$b"; return; }; done; return 1; }

# shellcheck disable=SC1091
. "$(dirname "$0")/lib/testenv.sh"   # free_port

# launch_server PORT SOCKET CLIENT_ARG...: starts mariadbd ($mysqld) on $dir/data
# and waits until $client gets in over SOCKET with CLIENT_ARGs; sets pid. Fails,
# with the server stopped, when it does not answer.
launch_server() {
  local port=$1 sock=$2; shift 2
  "$mysqld" --no-defaults --datadir="$dir/data" --socket="$sock" --port="$port" \
      --bind-address=127.0.0.1 "${server_user[@]}" --pid-file="$dir/mysqld.pid" \
      --log-error="$dir/error.log" --skip-name-resolve --innodb-buffer-pool-size=64M \
      --max-connections=500 --max-allowed-packet=64M --local-infile=1 >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 1 300); do
    "$client" --no-defaults "$@" -S "$sock" -e 'SELECT 1' >/dev/null 2>&1 && return 0
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  return 1
}

stop_server() {
  if [ -f "$dir/env" ]; then
    # shellcheck disable=SC1091
    . "$dir/env"
    if [ -n "${QUARVEL_TEST_DB_PID:-}" ] && kill -0 "$QUARVEL_TEST_DB_PID" 2>/dev/null; then
      kill "$QUARVEL_TEST_DB_PID" 2>/dev/null || true
      for _ in $(seq 1 100); do kill -0 "$QUARVEL_TEST_DB_PID" 2>/dev/null || break; sleep 0.1; done
      kill -9 "$QUARVEL_TEST_DB_PID" 2>/dev/null || true
    fi
  fi
}

case "$cmd" in
start)
  stop_server
  rm -rf "$dir"; mkdir -p "$dir/data"
  dir=$(cd "$dir" && pwd)
  mysqld=$(find_bin mariadbd mysqld) || { echo "mariadbd not found: run scripts/install-deps.sh" >&2; exit 1; }
  installdb=$(find_bin mariadb-install-db mysql_install_db)
  client=$(find_bin mariadb mysql)
  installed=0
  for attempt in 1 2 3; do
    if "$installdb" --no-defaults --datadir="$dir/data" "${server_user[@]}" --auth-root-authentication-method=normal \
        --skip-test-db >"$dir/install.log" 2>&1; then installed=1; break; fi
    rm -rf "$dir/data"; mkdir -p "$dir/data"; sleep 1
  done
  [ "$installed" = 1 ] || { cat "$dir/install.log" >&2; exit 1; }
  sock="$dir/mysqld.sock"
  ok=0
  for _ in 1 2 3 4 5; do
    port=$(free_port)
    # A fresh data folder: root has no password yet.
    if launch_server "$port" "$sock" -uroot; then ok=1; break; fi
  done
  [ "$ok" = 1 ] || { echo "the test server did not start:" >&2; tail -20 "$dir/error.log" >&2; exit 1; }
  # A failure from here on must not leave the server running.
  trap 'kill "$pid" 2>/dev/null || true' ERR
  host=$(hostname)
  "$client" --no-defaults -uroot -S "$sock" <<SQL
DROP USER IF EXISTS ''@'localhost';
DROP USER IF EXISTS ''@'${host}';
DROP USER IF EXISTS 'root'@'${host}';
ALTER USER 'root'@'localhost' IDENTIFIED BY 'rootpw';
CREATE USER IF NOT EXISTS 'root'@'127.0.0.1';
ALTER USER 'root'@'127.0.0.1' IDENTIFIED BY 'rootpw';
GRANT ALL ON *.* TO 'root'@'127.0.0.1' WITH GRANT OPTION;
CREATE USER 'quarvel'@'%' IDENTIFIED BY 'quarvel-pw';
CREATE USER 'quarvel'@'localhost' IDENTIFIED BY 'quarvel-pw';
GRANT ALL ON *.* TO 'quarvel'@'%';
GRANT ALL ON *.* TO 'quarvel'@'localhost';
CREATE DATABASE quarvel_test;
FLUSH PRIVILEGES;
SQL
  cat >"$dir/env" <<ENV
QUARVEL_TEST_DB_HOST=127.0.0.1
QUARVEL_TEST_DB_PORT=$port
QUARVEL_TEST_DB_SOCKET=$sock
QUARVEL_TEST_DB_USER=quarvel
QUARVEL_TEST_DB_PASSWORD=quarvel-pw
QUARVEL_TEST_DB_ROOT_PASSWORD=rootpw
QUARVEL_TEST_DB_NAME=quarvel_test
QUARVEL_TEST_DB_PID=$pid
ENV
  trap - ERR
  echo "test server on 127.0.0.1:$port (pid $pid), $dir/env"
  ;;
stop)
  stop_server
  rm -rf "$dir"
  ;;
restart)
  [ -f "$dir/env" ] || { echo "no test server in $dir" >&2; exit 1; }
  stop_server
  dir=$(cd "$dir" && pwd)
  # shellcheck disable=SC1091
  . "$dir/env"
  mysqld=$(find_bin mariadbd mysqld) || { echo "mariadbd not found: run scripts/install-deps.sh" >&2; exit 1; }
  client=$(find_bin mariadb mysql)
  launch_server "$QUARVEL_TEST_DB_PORT" "$QUARVEL_TEST_DB_SOCKET" -uroot -p"$QUARVEL_TEST_DB_ROOT_PASSWORD" \
    || { echo "the test server did not start again:" >&2; tail -20 "$dir/error.log" >&2; exit 1; }
  sed -i "s/^QUARVEL_TEST_DB_PID=.*/QUARVEL_TEST_DB_PID=$pid/" "$dir/env"
  echo "test server again on 127.0.0.1:$QUARVEL_TEST_DB_PORT (pid $pid)"
  ;;
env)
  cat "$dir/env"
  ;;
*) echo "usage: $0 start|stop|restart|env DIR" >&2; exit 2 ;;
esac
