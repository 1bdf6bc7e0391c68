# shellcheck shell=bash
# Privileges for the set-up scripts: they run as whoever typed the command and
# raise privileges only for the steps that need root (installing packages,
# installing into /usr). Sourced, never run; defines functions only.
#   . "$src/scripts/lib/privilege.sh"

# as_root CMD...: runs CMD as root: directly when root already, else through
# sudo; fails with a message saying what needs root when there is no sudo.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo >/dev/null 2>&1; then
    sudo "$@"
  else
    echo "This step needs root privileges: $*" >&2
    echo "Run the command as root, or install sudo and give your user the right to use it." >&2
    return 1
  fi
}

# can_be_root: true when as_root can work without asking anything of the script
# (root already, or sudo installed).
can_be_root() {
  [ "$(id -u)" -eq 0 ] || command -v sudo >/dev/null 2>&1
}

# rerun_as_invoking_user SCRIPT ARG...: under sudo (root with a non-root
# $SUDO_USER), installs the packages first, then runs SCRIPT again as that user
# with that user's home, keeping the display, and exits with its status. Does
# nothing otherwise. What the script then builds, and the programs it starts,
# belong to the user; only its own as_root steps run as root (through sudo).
rerun_as_invoking_user() {
  [ "$(id -u)" -eq 0 ] && [ -n "${SUDO_USER:-}" ] && [ "$SUDO_USER" != root ] || return 0
  local script=$1; shift
  bash "$(dirname "${BASH_SOURCE[0]}")/../install-deps.sh"
  local uid; uid=$(id -u "$SUDO_USER")
  local runtime=()
  [ -d "/run/user/$uid" ] && runtime=(XDG_RUNTIME_DIR="/run/user/$uid")
  # Build folders left by earlier runs as root go to the user who builds now.
  local d
  for d in "$(dirname "$script")"/../build*; do
    [ -d "$d" ] && [ "$(stat -c %u "$d")" = 0 ] && chown -R "$SUDO_USER:" "$d"
  done
  echo "Running as $SUDO_USER (sudo is used only for the steps that need root)."
  exec runuser -u "$SUDO_USER" -- env -u SUDO_USER -u SUDO_UID -u SUDO_GID -u SUDO_COMMAND \
    -u XDG_DATA_HOME -u XDG_CONFIG_HOME "${runtime[@]}" bash "$script" "$@"
}
