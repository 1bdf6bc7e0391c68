# shellcheck shell=bash
# Shell pieces shared by the end-to-end tests, the benchmarks and the screenshot
# script: throwaway servers, free ports, a prepared settings.ini, the program
# under a virtual X server, and option parsing. Sourced, never run; defines
# functions only.
#   . "$src/scripts/lib/testenv.sh"

testenv_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# start_throwaway_db WORK: starts a throwaway server in WORK/db (scripts/testdb.sh)
# and exports its address: QUARVEL_TEST_DB_HOST, _PORT, _USER, _PASSWORD, _NAME...
start_throwaway_db() {
  "$testenv_scripts/testdb.sh" start "$1/db" >/dev/null
  set -a
  # shellcheck disable=SC1091
  . "$1/db/env"
  set +a
}

# stop_throwaway_db WORK: stops the server of start_throwaway_db and removes WORK;
# meant for the EXIT trap, so it never fails.
stop_throwaway_db() {
  "$testenv_scripts/testdb.sh" stop "$1/db" >/dev/null 2>&1 || true
  rm -rf "$1"
}

# use_test_server WORK: for an end-to-end test: reads the test server's address
# from the file QUARVEL_TEST_DB_ENV names (CTest's server) and makes WORK afresh
# with its runtime folder.
use_test_server() {
  : "${QUARVEL_TEST_DB_ENV:?names no address file of the test server}"
  # shellcheck disable=SC1090
  . "$QUARVEL_TEST_DB_ENV"
  rm -rf "$1"
  runtime_dir "$1/runtime"
}

# free_port: prints a loopback TCP port that nothing listens on.
free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1]); s.close()'
}

# wait_port PORT [SECONDS]: waits until something accepts on 127.0.0.1:PORT
# (at most SECONDS, default 20); fails when nothing did.
wait_port() {
  local tries=$(( ${2:-20} * 20 ))
  for _ in $(seq 1 "$tries"); do
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null && return 0
    sleep 0.05
  done
  return 1
}

# runtime_dir DIR: creates DIR as a private folder, as XDG_RUNTIME_DIR wants.
runtime_dir() {
  mkdir -p "$1"
  chmod 700 "$1"
}

# obscured_password PASSWORD: the password as settings.ini keeps it: its UTF-8
# bytes XOR 0xC4, in Base64.
obscured_password() {
  /usr/bin/python3 -c 'import base64,sys; print(base64.b64encode(bytes(b ^ 0xC4 for b in sys.argv[1].encode())).decode())' "$1"
}

# write_test_settings DATA_HOME [KEY=VALUE...]: writes DATA_HOME/data/Tessam/Quarvel/settings.ini
# (the program's file with XDG_DATA_HOME=DATA_HOME) with one current profile,
# "Test server", for the server of QUARVEL_TEST_DB_*. Each KEY=VALUE replaces the
# value of a key of [General] or of the profile (AutoStart, StatusPeriod, ProfilerPort...);
# an unknown key is an error.
write_test_settings() {
  local home=$1; shift
  local lines=(
    "[General]" Language=english CheckUpdate=false AutoOpenNewSession=false AutoStart=false StayOnTop=false
    MaxLinesFlow=300 MaxSessions=100 AlwaysTunneling=false ""
    "[Profiles]" CountProfiles=1 CurrentProfile=0
    'Profile0\Name=Test server' 'Profile0\DbType=1' 'Profile0\ConnectionMethod=0'
    "Profile0\\Host=$QUARVEL_TEST_DB_HOST" "Profile0\\Port=$QUARVEL_TEST_DB_PORT"
    "Profile0\\User=$QUARVEL_TEST_DB_USER" "Profile0\\Password=$(obscured_password "$QUARVEL_TEST_DB_PASSWORD")"
    'Profile0\Compression=false' 'Profile0\Socket=/tmp/mysql.sock' 'Profile0\StatusCheck=true'
    'Profile0\StatusPeriod=3' 'Profile0\ProfilerPort=4040' 'Profile0\NetworkConnections=false'
    'Profile0\InteractPassword=false')
  local kv key i found
  for kv in "$@"; do
    key=${kv%%=*}
    found=0
    for i in "${!lines[@]}"; do
      case "${lines[i]}" in
        "$key="*|"Profile0\\$key="*) lines[i]="${lines[i]%%=*}=${kv#*=}"; found=1 ;;
      esac
    done
    [ "$found" = 1 ] || { echo "write_test_settings: no key $key in settings.ini" >&2; return 1; }
  done
  mkdir -p "$home/data/Tessam/Quarvel"
  printf '%s\n' "${lines[@]}" >"$home/data/Tessam/Quarvel/settings.ini"
}

# start_program PROGRAM WORK: starts the desktop program on the X display with
# XDG_DATA_HOME=WORK/home and XDG_RUNTIME_DIR=WORK/runtime, its output in
# WORK/quarvel.out; sets pid.
start_program() {
  export XDG_DATA_HOME=$2/home XDG_RUNTIME_DIR=$2/runtime
  unset QT_QPA_PLATFORM QUARVEL_TEST_AUTOCLOSE
  "$1" >"$2/quarvel.out" 2>&1 &
  pid=$!
}

# accept_profile_dialog: waits for the profile dialog the program opens at start
# and presses Return (its OK) until it is gone; says why and fails when there is
# no dialog or it stays open.
accept_profile_dialog() {
  local win
  win=$(xdotool search --sync --onlyvisible --name '^Connection profiles$' | head -1) \
    || { echo "no profile dialog" >&2; return 1; }
  for _ in $(seq 1 20); do
    xdotool windowactivate --sync "$win" 2>/dev/null || xdotool windowfocus --sync "$win" 2>/dev/null || true
    sleep 0.5
    xdotool key --window "$win" Return 2>/dev/null || true
    sleep 0.5
    xdotool search --onlyvisible --name '^Connection profiles$' >/dev/null || return 0
  done
  echo "the profile dialog stays open" >&2
  return 1
}

# fail MESSAGE: ends an end-to-end session: prints "FAIL: MESSAGE", leaves a
# picture of the screen in $work/failure.png and stops the program ($pid).
fail() {
  echo "FAIL: $*"
  # shellcheck disable=SC2154  # work: the session's work folder
  import -window root "$work/failure.png" || true
  kill "$pid" 2>/dev/null || true
  exit 1
}

# script_usage: prints the calling script's leading comment (its usage text).
script_usage() {
  awk 'NR == 1 { next } /^#/ { sub(/^# ?/, ""); print; next } { exit }' "$0"
}

# parse_options --NAME=VARIABLE... -- ARG...: sets VARIABLE to VALUE for each
# "--NAME VALUE" among the ARGs; -h/--help prints script_usage and exits 0,
# anything else exits 2 with a message.
parse_options() {
  local -A testenv_vars=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do testenv_vars[${1%%=*}]=${1#*=}; shift; done
  shift
  while [ $# -gt 0 ]; do
    case "$1" in -h|--help) script_usage; exit 0 ;; esac
    [ -n "${testenv_vars[$1]:-}" ] || { echo "unknown option $1 (see --help)" >&2; exit 2; }
    [ $# -ge 2 ] || { echo "option $1 needs a value" >&2; exit 2; }
    printf -v "${testenv_vars[$1]}" '%s' "$2"
    shift 2
  done
}

# Starts the GUI bench program $1 on platform $2 (xvfb or offscreen) with its
# data folder $3/home-b, the other arguments passed on; its output goes to
# $3/gui.out and $3/gui.err. Sets gpid.
start_bench_gui() {
  local gui=$1 platform=$2 work=$3 qpa=offscreen
  local run=()
  shift 3
  if [ "$platform" = xvfb ]; then
    qpa=xcb
    run=(xvfb-run -a -s "-screen 0 1280x900x24")
  fi
  XDG_DATA_HOME="$work/home-b" XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=$qpa \
    "${run[@]}" "$gui" "$@" >"$work/gui.out" 2>"$work/gui.err" &
  gpid=$!
}
