#!/usr/bin/env bash
# Installs every Debian package the build, the program and the tests need.
# Idempotent; as a normal user it raises privileges (sudo) only when a
# package is missing.
set -euo pipefail
# shellcheck disable=SC1091
. "$(dirname "$0")/lib/privilege.sh"
PKGS=(
  build-essential cmake pkg-config
  clang libclang-rt-dev llvm
  qtbase5-dev qtbase5-dev-tools qttools5-dev-tools libqt5sql5-mysql libqt5sql5-sqlite
  qtscript5-dev libqt5svg5
  libsingleapplication-dev
  libjs-highlight.js
  famfamfam-silk
  zlib1g-dev libzstd-dev
  mariadb-server mariadb-client
  sysbench python3-pymysql php-cli php-mysql libdbd-mariadb-perl
  xvfb xauth xdotool imagemagick x11-apps
  haproxy
  fonts-dejavu-core
)
# The Debian package and its checks (scripts/package-check.sh).
PKGS+=(dpkg-dev help2man lintian desktop-file-utils)
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  as_root env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
